#include "game/chat.h"

#include "base/limits.h"
#include "base/mutex.h"
#include "base/settings.h"
#include "platform/console.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Whether the engine's say would mangle a line that begins at the first
// non-blank from at: a leading `"` costs the first and last byte, a leading
// "//" the whole line.
bool BadLineStart(const std::string& text, size_t at) {
  while (at < text.size() && IsBlank(text[at])) ++at;
  if (at >= text.size()) return false;
  return text[at] == '"' || text.compare(at, 2, "//") == 0;
}

// The end of the line that begins at start (a non-blank) in a text longer
// than start + limit: the last blank in reach after which the next line may
// begin, else a hard cut.
size_t LineEnd(const std::string& text, size_t start, size_t limit) {
  for (size_t at = start + limit; at > start; --at) {
    if (IsBlank(text[at]) && !BadLineStart(text, at)) return at;
  }
  auto badCut = [&](size_t at) { return IsUtf8Continuation(text[at]) || BadLineStart(text, at); };
  size_t cut = start + limit;
  while (cut > start + 1 && badCut(cut)) --cut;
  // No good place at all (a run of quotes, say): at the limit, as the engine would cut.
  return badCut(cut) ? start + limit : cut;
}

}  // namespace

std::vector<std::string> SplitSayText(const std::string& text, size_t limit) {
  if (text.size() <= limit || limit == 0) return {text};
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size() && IsBlank(text[start])) ++start;
  while (start < text.size()) {
    const size_t end = text.size() - start <= limit ? text.size() : LineEnd(text, start, limit);
    size_t last = end;
    while (IsBlank(text[last - 1])) --last;  // text[start] is no blank
    lines.push_back(text.substr(start, last - start));
    start = end;
    while (start < text.size() && IsBlank(text[start])) ++start;
  }
  return lines;
}

bool TChat::UseSay() const {
  switch (settings_.ChatCommandMode) {
    case ChatCommand::Say:
      return true;
    case ChatCommand::AmxTsay:
      return false;
    case ChatCommand::Auto:
      break;
  }
  return addonMissing_.load();
}

void TChat::SayLines(const std::string& text) {
  TMutexLock guard(sayLinesLock_);
  for (const std::string& line : SplitSayText(text, kSayTextChars)) {
    const RconOutcome outcome = rcon_.Exchange("say " + line).Outcome;
    if (outcome != RconOutcome::Answered && outcome != RconOutcome::NoAnswer) return;
  }
}

void TChat::Say(const std::string& colour, const std::string& text) {
  if (UseSay()) {
    SayLines(text);
    return;
  }
  const RconResult result = rcon_.Exchange("amx_tsay " + colour + " " + text);
  if (settings_.ChatCommandMode != ChatCommand::Auto) return;
  if (result.Outcome != RconOutcome::Answered || !result.Text.empty()) return;
  if (!addonMissing_.exchange(true)) {
    platform::ConsoleLine("Chat lines go out with say (no amx_tsay add-on answered)");
  }
  SayLines(text);
}
