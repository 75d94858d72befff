#include "rcon/chat.h"

#include <algorithm>

#include "base/limits.h"
#include "platform/mutex.h"
#include "base/settings.h"
#include "log/logs.h"
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

// Bytes of a say text the engine keeps under hostname beyond the first 63:
// 122 less the hostname's bytes, less 2 for each '#' and '%' after its first
// (ReHLDS widens them); 0 when nothing is left.
size_t SayRoomUnder(const std::string& hostname) {
  const auto widened = static_cast<size_t>(std::count(hostname.begin(), hostname.end(), '#') +
                                           std::count(hostname.begin(), hostname.end(), '%'));
  const size_t taken = hostname.size() + (widened > 1 ? 2 * (widened - 1) : 0);
  return taken < kSayLineRoomChars ? kSayLineRoomChars - taken : 0;
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

size_t SayTextRoom(const std::string& hostname) {
  return std::max(std::min(SayRoomUnder(hostname), kSayTextChars), kMinSayTextChars);
}

std::optional<std::string> HostnameInCvarAnswer(const std::string& text) {
  // The engine prints "\"%s\" is \"%s\"\n" with the cvar's name and value; a
  // value holding a quote runs to the last one.
  const std::string head = "\"hostname\" is \"";
  std::string line = text.substr(0, text.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.compare(0, head.size(), head) != 0 || line.size() <= head.size() || line.back() != '"') {
    return std::nullopt;
  }
  return line.substr(head.size(), line.size() - head.size() - 1);
}

void TChat::NoteHostname(const std::string& hostname) {
  if (hostname.empty()) return;
  TMutexLock guard(hostnameLock_);
  hostname_ = hostname;
}

std::optional<size_t> TChat::SayRoom() {
  std::optional<std::string> hostname;
  {
    TMutexLock guard(hostnameLock_);
    hostname = hostname_;
  }
  if (!hostname && !hostnameAsked_) {
    const RconResult answer = rcon_.Exchange("hostname");
    if (answer.Outcome != RconOutcome::Answered && answer.Outcome != RconOutcome::NoAnswer) return std::nullopt;
    // An answer that came is kept even when unreadable (a game server that
    // prints something else would print it again); a lost one is asked again.
    hostnameAsked_ = answer.Outcome == RconOutcome::Answered;
    const std::optional<std::string> told = HostnameInCvarAnswer(answer.Text);
    TMutexLock guard(hostnameLock_);
    if (!hostname_) hostname_ = told;  // a status list's hostname that came meanwhile stays
    hostname = hostname_;
  }
  const std::string shown = hostname ? *hostname : std::string(kAssumedHostnameChars, 'h');
  const size_t room = SayRoomUnder(shown);
  if (room < kMinSayTextChars && !roomWarned_) {
    roomWarned_ = true;
    WriteEvent("Say lines reach players cut: the game server's hostname of " + std::to_string(shown.size()) +
               " bytes leaves room for " + std::to_string(room) + " characters a line, and say lines of " +
               std::to_string(kMinSayTextChars) + " go out; shorten the hostname or install the amx_tsay add-on");
  }
  return SayTextRoom(shown);
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
  const std::optional<size_t> room = SayRoom();
  if (!room) return;
  for (const std::string& line : SplitSayText(text, *room)) {
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
