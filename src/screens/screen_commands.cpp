// Placeholder until the screen commands land.
#include "screens/screen_commands.h"

void ScreenCmd(CommandCall& call) { call.SendCommandReply(); }
void ChkScreenCmd(CommandCall& call) { call.SendCommandReply(); }
