// "<start_screen>" and "<check_screen>": open a screenshot transfer and compare
// byte counts. Command connection threads; each holds BusyFlag for its run.
#pragma once

#include "channel/command_context.h"
#include "channel/command_server.h"

void ScreenCmd(const TCommandContext& context, CommandCall& call);
void ChkScreenCmd(const TCommandContext& context, CommandCall& call);
