#include "gamesim/status_text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace gamesim {
namespace {

// printf into a std::string; the formats here are all short.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  return buffer;
}

std::string TimeText(int seconds) {
  int minutes = seconds / 60;
  int hours = 0;
  if (minutes) {
    seconds %= 60;
    hours = minutes / 60;
    if (hours) minutes %= 60;
  }
  return hours ? Format(" %2i:%02i:%02i", hours, minutes, seconds) : Format(" %02i:%02i", minutes, seconds);
}

}  // namespace

std::string DefaultUniqueId(const TSimPlayer& player) {
  switch (player.Kind) {
    case TSimPlayerKind::Bot:
      return "BOT";
    case TSimPlayerKind::Proxy:
      return "HLTV";
    case TSimPlayerKind::Connecting:
      return "STEAM_ID_PENDING";
    case TSimPlayerKind::Player:
      break;
  }
  return "STEAM_0:0:" + std::to_string(player.UserId);
}

std::vector<std::string> EngineStatusPrints(const TStatusHeader& header, const std::vector<TSimPlayer>& players) {
  const int count = static_cast<int>(players.size());
  std::vector<std::string> prints = {
      "hostname:  " + header.Hostname + "\n",
      "version :  " + header.Version + "\n",
      "tcp/ip  :  " + header.LocalAddress + "\n",
      "map     :  " + header.Map + " at: 0 x, 0 y, 0 z\n",
      // A test may list more players than slots; the count then stands for the slots.
      Format("players :  %i active (%i max)\n\n", count, std::max(header.MaxPlayers, count)),
      "#      name userid uniqueid frag time ping loss adr\n",
  };
  for (const TSimPlayer& player : players) {
    if (player.Kind == TSimPlayerKind::Connecting) continue;  // counted above, listed once spawned
    const std::string quoted = "\"" + player.Name + "\"";
    prints.push_back(Format("#%2i %8s %i %s", player.Slot, quoted.c_str(), player.UserId, player.UniqueId.c_str()));
    const bool proxy = player.Kind == TSimPlayerKind::Proxy;
    prints.push_back(proxy ? Format(" hltv:%u/%u delay:%u", static_cast<unsigned>(player.HltvViewers),
                                    static_cast<unsigned>(player.HltvSlots), static_cast<unsigned>(player.HltvDelay))
                           : Format(" %3i", player.Frags));
    prints.push_back(TimeText(player.Seconds));
    prints.push_back(Format(" %4i  %3i", player.Ping, player.Loss));
    const bool showsAddress = player.Kind == TSimPlayerKind::Player || proxy;
    prints.push_back(showsAddress && !player.Address.empty() ? " " + player.Address + "\n" : "\n");
  }
  prints.push_back(Format("%i users\n", count));
  return prints;
}

std::vector<std::string> AddonStatusPrints(const TStatusHeader& header, const std::vector<TSimPlayer>& players) {
  std::vector<std::string> prints = {"\\" + header.Hostname + "\\\\" + header.Map + "\\"};
  for (const TSimPlayer& player : players) prints.push_back("\\" + player.Name + "\\\\" + player.Address + "\\");
  return prints;
}

}  // namespace gamesim
