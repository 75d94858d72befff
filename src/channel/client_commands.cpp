// Placeholder until the client commands land.
#include "channel/client_commands.h"

void ConnectCmd(CommandCall& call) { call.SendCommandReply(); }
void DisConnectCmd(CommandCall& call) { call.SendCommandReply(); }
void UpdateCmd(CommandCall& call) { call.SendCommandReply(); }
void BanCmd(TServer&, CommandCall& call) { call.SendCommandReply(); }
