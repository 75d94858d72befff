// The allow-list allow_connections.txt: players who may stay on the game server
// without a client. An accepted line is kept whole, exactly as read; the
// supervision cycle reads its quoted fields (an address, an address prefix
// ending in "*", or an address and a name).
#include "app/allow_list.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/files.h"
#include "platform/program_dir.h"

bool IsAllowLineValid(const std::string& line) {
  const auto quotes = std::count(line.begin(), line.end(), '"');
  return quotes == 2 || quotes == 4;
}

std::vector<std::string> ReadAllowListFile() {
  std::vector<std::string> accepted;
  const std::string path = platform::DataDirectory() + "allow_connections.txt";
  if (!platform::FileExists(path)) return accepted;
  platform::ConsoleLine("===========Loading paramtreas from allow_connections.txt===========");
  std::vector<std::string> lines;
  std::string error;
  // A file that cannot be read leaves the list empty; nothing here can be
  // skipped line by line, so the reason goes to standard error.
  if (!platform::ReadTextLines(path, lines, &error)) platform::ErrorLine(error);
  for (const std::string& line : lines) {
    if (line.empty() || line[0] == ';' || !IsAllowLineValid(line)) continue;
    accepted.push_back(line);
    platform::ConsoleLine("Line loaded: " + line);
  }
  platform::ConsoleLine(std::string(68, '='));
  return accepted;
}
