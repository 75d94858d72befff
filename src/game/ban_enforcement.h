// Carrying out a ban that a client reported.
#pragma once

#include <cstdint>
#include <string>

#include "game/rcon_client.h"

// Removes the named client, kicks its player and announces the ban in the game
// chat through rcon, writes the full log and appends a ban record. False, with
// nothing changed, when no client has the name (a full-log line) or its player
// was not on the game server's last list. Caller holds BusyFlag.
bool EnforceBan(TRconClient& rcon, const std::string& name, const std::string& address, const std::string& reason,
                int32_t minutes);
