// Carrying out a ban that a client reported.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "game/rcon_client.h"
#include "registry/busy_flag.h"

// What is left of a ban once the tables have taken it: the two remote-console
// commands, then the full-log line and the ban record.
struct TBanKick {
  std::string KickCommand;
  std::string ChatText;  // said in red through SayInGame
  std::string Name;
  std::string Address;
  std::string Identifier;
  std::string Reason;
  int32_t Minutes = 0;
};

// The ban's part on the tables: removes the named client, tells the
// supervision that the ban kicks the player, and holds the identifier as a
// ban in flight (BanInFlight) until SendBanKick has written its record.
// nullopt, with nothing changed, when no client has the name (a full-log line)
// or its player was not on the game server's last list. Caller holds BusyFlag.
std::optional<TBanKick> TakeBan(const std::string& name, const std::string& address, const std::string& reason,
                                int32_t minutes) REQUIRES(BusyFlag);
// Kicks the player and announces the ban in the game chat, then writes the
// full log and appends the ban record, and only then lets the ban in flight
// go. Meant to run without BusyFlag: the exchanges take a round trip each, a
// silent game server a second.
void SendBanKick(TRconClient& rcon, const TBanKick& kick);
// Whether a ban of this identifier is taken but its record not yet written;
// its minutes ("p": for ever) in duration. A connect asks this before the ban
// base: an identifier that is no longer in flight has its record written, so
// the base then has it. Thread safe.
bool BanInFlight(const std::string& identifier, std::string* duration);
// Both, one after the other, under whatever the caller holds. Caller holds
// BusyFlag (TakeBan needs it).
bool EnforceBan(TRconClient& rcon, const std::string& name, const std::string& address, const std::string& reason,
                int32_t minutes) REQUIRES(BusyFlag);
