// The client commands of the channel: "<connect>", "<disconnect>", "<update>"
// and "<ban>". Each runs on its connection's thread, holds BusyFlag through a
// guard for its work on the tables and returns with its reply (or failure)
// filled in; the dispatcher writes the reply after the guard released the flag.
// They are registered through the table of channel/command_table.h.
#pragma once

#include "channel/command_context.h"
#include "channel/command_server.h"

// A connect is checked against the bans of the enforcement (in flight, then the base).
void ConnectCmd(const TCommandContext& context, CommandCall& call);
void DisConnectCmd(const TCommandContext& context, CommandCall& call);
void UpdateCmd(const TCommandContext& context, CommandCall& call);
// The ban goes to the game server through the enforcement.
void BanCmd(const TCommandContext& context, CommandCall& call);
