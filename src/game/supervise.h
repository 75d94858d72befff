// The supervision cycle: the game server's players checked against the
// clients and the allow-list, every 30 ticks of the main loop.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "game/rcon_client.h"

// One run: asks the game server for its players, rebuilds the player table,
// kicks every player who has neither a live client nor an allow-list entry,
// counts one more silent period for every client and drops the clients silent
// for too long. markChanged runs when the game server's status mark differs
// from the kept one (the owner reloads the allow-list into allowList and
// refreshes the registration there), before the kick pass reads allowList.
// Holds BusyFlag for the whole run. Main thread only.
void Supervise(TRconClient& rcon, const std::vector<std::string>& allowList,
               const std::function<void()>& markChanged);
