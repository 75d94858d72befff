// The client commands of the channel: "<connect>", "<disconnect>", "<update>"
// and "<ban>". Each runs on its connection's thread, holds BusyFlag through a
// guard for its work on the tables and returns with its reply (or failure)
// filled in; the dispatcher writes the reply after the guard released the flag.
#pragma once

#include "base/settings.h"
#include "channel/command_server.h"
#include "supervision/ban_enforcement.h"
#include "registry/tables.h"

// A connect is checked against the bans of bans (in flight, then the base).
void ConnectCmd(TTables& tables, const SettingsRecord& settings, TBanEnforcement& bans, CommandCall& call);
void DisConnectCmd(TTables& tables, CommandCall& call);
void UpdateCmd(TTables& tables, CommandCall& call);
// The ban goes to the game server through bans.
void BanCmd(TTables& tables, const SettingsRecord& settings, TBanEnforcement& bans, CommandCall& call);
