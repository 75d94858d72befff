// The supervision cycle: the game server's players checked against the
// clients and the allow-list, every 30 ticks of the main loop.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "game/rcon_client.h"
#include "registry/busy_flag.h"

// One run: asks the game server for its players, rebuilds the player table,
// kicks every player who has neither a live client nor an allow-list entry,
// counts one more silent period for every client and drops the clients silent
// for too long. markChanged runs when the game server's status mark differs
// from the kept one (the owner reloads the allow-list into allowList and
// refreshes the registration there), before the kick pass reads allowList;
// it runs without BusyFlag. Holds BusyFlag only to copy the clients at the
// start and to apply the answer to the tables, never across a remote-console
// exchange. Main thread only.
void Supervise(TRconClient& rcon, const std::vector<std::string>& allowList,
               const std::function<void()>& markChanged);

// Tells the supervision that a ban took the named player's client and kicks
// the player itself: the next kick pass leaves the player alone, since its
// list may be older than the ban's kick. Caller holds BusyFlag.
void NoteBanKick(const std::string& name) REQUIRES(BusyFlag);
