// The engine's own player list, the answer to "status" that every game server
// gives without any add-on:
//
//   hostname:  My CS Server
//   map     :  de_dust2 at: 0 x, 0 y, 0 z
//   ...
//   #      name userid uniqueid frag time ping loss adr
//   # 4  "Nitro" 305 STEAM_0:0:785980079   5 02:34   52    0 176.32.12.6:27005
//   3 users
//
// A player line begins with "#" and the slot number; the name is the text
// between its first and last double quote (the engine refuses quotes in
// names); userid and uniqueid follow, and on a line of a real player the last
// word is the address as IPv4:port.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class PlayerKind { Player, Bot, Proxy, Connecting };

struct TStatusPlayer {
  std::string Name;
  std::string Address;  // dotted IPv4, without the port; empty when it has none
  int32_t Port = 0;
  int32_t UserId = 0;
  PlayerKind Kind = PlayerKind::Player;
};

struct TEngineStatus {
  // The game server's hostname cvar, as the first line shows it (after
  // "hostname:" and the engine's two blanks); empty when that line is missing.
  std::string Hostname;
  std::string Map;  // the word after "map     :"
  // The players to check: bots (uniqueid BOT), spectator proxies (HLTV) and
  // lines without an IPv4:port address (a player still connecting) left out.
  std::vector<TStatusPlayer> Players;
  // Those left out, with their kind, to be shown as such.
  std::vector<TStatusPlayer> LeftOut;
};

// Reads the joined answer text. nullopt when it is no status list (no map
// line and no column header: a refusal or a text of some other command).
// Thread safe.
std::optional<TEngineStatus> ParseEngineStatus(const std::string& text);
