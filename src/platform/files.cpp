// What the file functions share on every system: text split into lines.
#include "platform/files.h"

namespace platform {

std::vector<std::string> SplitTextLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

bool ReadTextLines(const std::string& path, std::vector<std::string>& lines, std::string* error) {
  std::string text;
  if (!ReadWholeFile(path, text, error)) return false;
  lines = SplitTextLines(text);
  return true;
}

}  // namespace platform
