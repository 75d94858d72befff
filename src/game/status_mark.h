// What the supervision keeps of the game server between runs. Main thread only
// (the supervision cycle).
#pragma once

#include <string>

// The status mark: header field 2 of the last good "zelk_stat 1" answer, or the
// map of the last "status" list (first 32 characters); "unknown" after a failed
// request, empty at start.
extern std::string StatusMark;

// Which list the players were last read from.
enum class PlayerListSource {
  None,    // no list read yet
  Addon,   // the "zelk_stat 1" add-on
  Engine,  // the engine's own "status"
};
extern PlayerListSource PlayerList;
