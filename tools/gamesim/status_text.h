// The two player lists the simulator prints: the engine's own `status` and the
// status add-on's backslash form ("zelk_stat 1"), each as the print calls that
// make it up, so that datagram cuts fall where a real server's fall.
#pragma once

#include <string>
#include <vector>

#include "gamesim/game_server_sim.h"

namespace gamesim {

struct TStatusHeader {
  std::string Hostname;
  std::string LocalAddress;  // "ip:port" of the server
  std::string Map;
  std::string Version;  // the text after "version :  "
  int MaxPlayers = 32;  // the slot count, "(N max)"
};

// The engine's status: header lines, then per player the print calls
// "#%2i %8s %i %s" (slot, quoted name, userid, uniqueid), the frags (or the
// proxy's " hltv:viewers/slots delay:N"), the time, " %4i  %3i" (ping, loss) and
// the address with the newline (a bare newline for bots), then "N users".
// A player still connecting is counted but has no line. Players must hold their
// final slot, userid and uniqueid.
std::vector<std::string> EngineStatusPrints(const TStatusHeader& header, const std::vector<TSimPlayer>& players);

// The add-on's answer: `\hostname\\mark\` then `\name\\address\` per player, one
// print call for the header and one per player.
std::vector<std::string> AddonStatusPrints(const TStatusHeader& header, const std::vector<TSimPlayer>& players);

// The uniqueid status shows for a player whose UniqueId is empty.
std::string DefaultUniqueId(const TSimPlayer& player);

}  // namespace gamesim
