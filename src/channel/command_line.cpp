// The line rules of the command channel: how a line is matched to a command,
// how its arguments are split and joined again, and how a reply is framed.
#include "channel/command_server.h"

#include <algorithm>

#include "base/limits.h"

namespace {

// ASCII letter case folding: command words are plain ASCII, and the locale must
// not change what matches.
char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameTextIgnoringCase(const std::string& a, size_t aFrom, const std::string& b) {
  if (a.size() - aFrom < b.size()) return false;
  // Clients send the words as registered: that case needs no folding.
  if (a.compare(aFrom, b.size(), b) == 0) return true;
  for (size_t i = 0; i < b.size(); ++i) {
    if (FoldCase(a[aFrom + i]) != FoldCase(b[i])) return false;
  }
  return true;
}

// Appends the lines of one reply text, each ended by CR LF. A text holding line
// breaks (CR LF, LF or a lone CR) goes out as several lines.
void AppendFramedLines(const std::string& text, std::string& out) {
  // One line, as nearly every reply.
  if (std::none_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; })) {
    out.append(text).append("\r\n");
    return;
  }
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    out.append(text, start, i - start).append("\r\n");
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) out.append(text, start, std::string::npos).append("\r\n");
}

}  // namespace

void AppendFramedReply(const std::vector<std::string>& replyText, std::string& wire) {
  for (const std::string& line : replyText) AppendFramedLines(line, wire);
}

std::string CommandCall::Reply() const { return ReplyText.empty() ? std::string() : ReplyText.front(); }

void CommandCall::Reset() {
  ArgumentText.clear();
  ReplyText.clear();
  PeerAddress.clear();
  Failed = false;
  FromClient = false;
}

std::vector<std::string> SplitArguments(const std::string& text) {
  std::vector<std::string> words;
  SplitArgumentsInto(text, words);
  return words;
}

void SplitArgumentsInto(const std::string& text, std::vector<std::string>& words) {
  size_t count = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t blank = text.find(' ', start);
    if (blank == std::string::npos) blank = text.size();
    if (blank > start) {
      if (count == words.size()) words.emplace_back();
      words[count++].assign(text, start, blank - start);
    }
    start = blank + 1;
  }
  words.resize(count);
}

std::string JoinArguments(const std::vector<std::string>& words, size_t first, size_t last) {
  std::string joined;
  for (size_t i = first; i < last && i < words.size(); ++i) {
    if (i > first) joined += ' ';
    joined += words[i];
  }
  return joined;
}

int MatchCommand(const std::vector<CommandHandler>& handlers, const std::string& line) {
  for (size_t i = 0; i < handlers.size(); ++i) {
    const std::string& word = handlers[i].Word;
    // The second letter tells the words apart ("<connect>", "<update>"...),
    // so most are passed over without comparing more.
    if (word.size() > 1 && line.size() > 1 && FoldCase(line[1]) != FoldCase(word[1])) continue;
    if (!SameTextIgnoringCase(line, 0, word)) continue;
    if (line.size() == word.size() || line[word.size()] == ' ') return static_cast<int>(i);
  }
  return -1;
}

void TLineFramer::Append(const char* data, size_t size) {
  buffer_.erase(0, consumed_);
  scanned_ -= consumed_;
  consumed_ = 0;
  buffer_.append(data, size);
}

TLineFramer::Cut TLineFramer::Next(std::string& line) {
  // Only the bytes that came since the last look are searched, so a line that
  // arrives a byte at a time costs no more than one that arrives whole.
  const size_t lineFeed = buffer_.find('\n', std::max(scanned_, consumed_));
  if (lineFeed == std::string::npos) {
    scanned_ = buffer_.size();
    return buffer_.size() - consumed_ > kMaxLineBytes ? Cut::Overlong : Cut::NeedMore;
  }
  if (lineFeed - consumed_ > kMaxLineBytes) return Cut::Overlong;
  line.assign(buffer_, consumed_, lineFeed - consumed_);
  consumed_ = lineFeed + 1;
  scanned_ = consumed_;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return Cut::Line;
}
