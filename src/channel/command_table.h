// The client commands the channel serves, in the order their words are
// matched: the one table that the program, the tests, the benchmarks and the
// fuzz targets register.
#pragma once

#include <vector>

#include "channel/client_commands.h"
#include "channel/command_context.h"
#include "channel/command_server.h"
#include "channel/screen_commands.h"

struct TClientCommand {
  const char* Word;  // "<connect>"
  const char* Name;  // "ConnectCmd"
  void (*Handler)(const TCommandContext& context, CommandCall& call);
};

inline constexpr TClientCommand kClientCommands[] = {
    {"<connect>", "ConnectCmd", &ConnectCmd},
    {"<disconnect>", "DisConnectCmd", &DisConnectCmd},
    {"<ban>", "BanCmd", &BanCmd},
    {"<update>", "UpdateCmd", &UpdateCmd},
    {"<start_screen>", "ScreenCmd", &ScreenCmd},
    {"<check_screen>", "ChkScreenCmd", &ChkScreenCmd},
};

// Every command of the table, in its order, with its handler bound to the
// context (copied: it only names the state).
std::vector<CommandHandler> BindClientCommands(const TCommandContext& context);
// The same, registered with a command server. Before its Activate; main thread.
void RegisterClientCommands(TCommandServer& server, const TCommandContext& context);
