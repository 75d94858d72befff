// "<start_screen>" and "<check_screen>": open a screenshot transfer and compare
// byte counts. Command connection threads; each holds BusyFlag for its run.
#pragma once

#include "channel/command_server.h"
#include "registry/tables.h"

void ScreenCmd(TTables& tables, CommandCall& call);
void ChkScreenCmd(TTables& tables, CommandCall& call);
