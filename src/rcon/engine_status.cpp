#include "rcon/engine_status.h"

#include <sstream>

#include "base/numbers.h"
#include "platform/socket.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

// "map     :  de_dust2 at: 0 x, 0 y, 0 z" gives de_dust2.
std::optional<std::string> MapOf(const std::string& line) {
  if (line.compare(0, 3, "map") != 0) return std::nullopt;
  const size_t colon = line.find(':');
  if (colon == std::string::npos || line.find_first_not_of(' ', 3) != colon) return std::nullopt;
  const std::vector<std::string> words = Words(line.substr(colon + 1));
  return words.empty() ? std::string() : words[0];
}

// "hostname:  My CS Server" gives My CS Server: the engine prints the cvar
// after two blanks, so blanks of the hostname itself are kept.
std::optional<std::string> HostnameOf(const std::string& line) {
  const std::string label = "hostname:";
  if (line.compare(0, label.size(), label) != 0) return std::nullopt;
  size_t at = label.size();
  for (int blank = 0; blank < 2 && at < line.size() && line[at] == ' '; ++blank) ++at;
  return line.substr(at);
}

// The column header: "#" then the column names, no quote.
bool IsColumnHeader(const std::string& line) {
  if (line.empty() || line[0] != '#' || line.find('"') != std::string::npos) return false;
  const std::vector<std::string> words = Words(line.substr(1));
  return words.size() >= 2 && words[0] == "name" && words[1] == "userid";
}

// "203.0.113.5:27005" as address and port; nullopt for anything else.
std::optional<TStatusPlayer> AddressOf(const std::string& word) {
  const size_t colon = word.find(':');
  if (colon == std::string::npos || !platform::ParseDottedAddress(word.substr(0, colon))) return std::nullopt;
  const std::optional<int32_t> port = ParseInteger(word.substr(colon + 1));
  if (!port || *port < 0 || *port > 65535) return std::nullopt;
  TStatusPlayer player;
  player.Address = word.substr(0, colon);
  player.Port = *port;
  return player;
}

// One player line; nullopt for a line that is none. Bots, spectator proxies and
// players without an address yet come back with their kind.
std::optional<TStatusPlayer> PlayerOf(const std::string& line) {
  if (line.empty() || line[0] != '#') return std::nullopt;
  const size_t open = line.find('"');
  const size_t close = line.rfind('"');
  if (open == std::string::npos || close == open) return std::nullopt;
  const std::vector<std::string> rest = Words(line.substr(close + 1));
  if (rest.size() < 3) return std::nullopt;
  const std::optional<int32_t> userId = ParseInteger(rest[0]);
  if (!userId || *userId <= 0) return std::nullopt;
  std::optional<TStatusPlayer> player = AddressOf(rest.back());
  if (!player) {
    player = TStatusPlayer{};
    player->Kind = PlayerKind::Connecting;
  }
  if (rest[1] == "BOT") player->Kind = PlayerKind::Bot;
  if (rest[1] == "HLTV") player->Kind = PlayerKind::Proxy;
  player->Name = line.substr(open + 1, close - open - 1);
  player->UserId = *userId;
  return player;
}

}  // namespace

std::optional<TEngineStatus> ParseEngineStatus(const std::string& text) {
  TEngineStatus status;
  bool isStatus = false;
  bool inList = false;
  for (const std::string& line : Lines(text)) {
    if (!inList) {
      if (std::optional<std::string> hostname = HostnameOf(line)) status.Hostname = *hostname;
      if (std::optional<std::string> map = MapOf(line)) {
        status.Map = *map;
        isStatus = true;
      }
      inList = IsColumnHeader(line);
      isStatus = isStatus || inList;
      continue;
    }
    if (std::optional<TStatusPlayer> player = PlayerOf(line)) {
      (player->Kind == PlayerKind::Player ? status.Players : status.LeftOut).push_back(*player);
    }
  }
  if (!isStatus) return std::nullopt;
  return status;
}
