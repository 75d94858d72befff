// The start-up sequence, in order: banner; configuration; the server object;
// the settings listing; the console title; the ports line; both tables reset;
// the main loop. After a stop request the server object is released in order.
#include "app/startup.h"

#include <exception>

#include "app/config_file.h"
#include "app/main_loop.h"
#include "app/server.h"
#include "base/limits.h"
#include "base/settings.h"
#include "platform/console.h"
#include "registry/busy_flag.h"
#include "registry/tables.h"

namespace {

const char* StatusQueryName(StatusQuery mode) {
  switch (mode) {
    case StatusQuery::Addon:
      return "addon";
    case StatusQuery::Status:
      return "status";
    case StatusQuery::Auto:
      break;
  }
  return "auto";
}

const char* ChatCommandName(ChatCommand mode) {
  switch (mode) {
    case ChatCommand::AmxTsay:
      return "amx_tsay";
    case ChatCommand::Say:
      return "say";
    case ChatCommand::Auto:
      break;
  }
  return "auto";
}

void Quoted(const std::string& label, const std::string& value) {
  platform::ConsoleLine(label + "\"" + value + "\"");
}

void PrintSettings(const TServer& server) {
  Quoted("Rcon host: ", Settings.RconHost);
  Quoted("Rcon port: ", std::to_string(Settings.RconPort));
  Quoted("Rcon pass: ", Settings.RconPass);
  Quoted("Comment: ", Settings.Comment);
  Quoted("Client version: ", Settings.ClientVersion);
  platform::ConsoleLine("ID: " + Settings.ClientId);
  Quoted("Status query: ", StatusQueryName(Settings.StatusQueryMode));
  Quoted("Chat command: ", ChatCommandName(Settings.ChatCommandMode));
  platform::ConsoleLine(Settings.AllowScreens ? "Screens function: ON" : "Screens function: OFF");
  if (Settings.AllowScreens) {
    platform::ConsoleLine("Server will take screens every ~" + std::to_string(Settings.ScreenInterval) + " minutes");
  }
  platform::ConsoleLine(std::string(46, '='));
  platform::SetConsoleTitle("Server is running ...");
  const std::string port = std::to_string(Settings.RconPort + kCommandPortOffset);
  if (server.ScreenServer) {
    platform::ConsoleLine("Server successfully started and running on ports:(TCP)" + port + ",(UDP)" + port);
  } else {
    platform::ConsoleLine("Server successfully started and running on TCP port:(TCP)" + port);
  }
}

}  // namespace

int RunProgram() {
  platform::ConsoleLine(std::string("AntiCheat System \"Varnok\" server v") + kVersionText);
  if (!LoadConfig()) return 1;
  Settings.ScreenDir = NormaliseScreenDir(Settings.ScreenDir);

  TServer server;
  bool ended = true;
  try {
    PrintSettings(server);
    {
      TBusyGuard busy;
      ResetClients();
      ResetPlayers();
    }
    RunMainLoop(server);
  } catch (const std::exception& e) {
    platform::ConsoleLine(std::string("Fatal error, the server stops: ") + e.what());
    server.Release();
    return 1;
  }
  ended = server.Release();
  if (!ended) {
    platform::ConsoleLine("Terminate Thread Timeout");
    return 1;
  }
  return 0;
}
