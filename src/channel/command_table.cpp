// The client command table bound to a context.
#include "channel/command_table.h"

#include <utility>

std::vector<CommandHandler> BindClientCommands(const TCommandContext& context) {
  std::vector<CommandHandler> handlers;
  for (const TClientCommand& command : kClientCommands) {
    handlers.push_back({command.Word, command.Name,
                        [context, handler = command.Handler](CommandCall& call) { handler(context, call); }});
  }
  return handlers;
}

void RegisterClientCommands(TCommandServer& server, const TCommandContext& context) {
  for (CommandHandler& command : BindClientCommands(context)) {
    server.RegisterCommand(command.Word, command.Name, std::move(command.Handler));
  }
}
