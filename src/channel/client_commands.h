// The client commands of the channel: "<connect>", "<disconnect>", "<update>"
// and "<ban>". Each runs on its connection's thread, holds BusyFlag through a
// guard for its work on the tables and returns with its reply (or failure)
// filled in; the dispatcher writes the reply after the guard released the flag.
#pragma once

#include "channel/command_server.h"
#include "game/rcon_client.h"

void ConnectCmd(CommandCall& call);
void DisConnectCmd(CommandCall& call);
void UpdateCmd(CommandCall& call);
// The ban goes to the game server through rcon.
void BanCmd(TRconClient& rcon, CommandCall& call);
