// The start-up sequence, in order: banner; the data directory taken (one
// server per directory); configuration (a value that cannot be read of a key
// whose fallback would punish players stops here); the server object (the
// logs rotated first, then the command port opened; the program stops when
// that port cannot be bound); the settings listing;
// the console title; the ports line; the main loop. After a stop request the
// server object is released in order, and a last line says why the server
// stopped.
//
// The client and player tables start empty with the process and are never
// emptied once the command port is open: a client that registers while
// start-up still runs (the registry's answer can take seconds, and clients
// reconnect exactly then after a restart) stays registered, and its player is
// not kicked by the first supervision run.
#include "app/startup.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "app/config_file.h"
#include "app/main_loop.h"
#include "app/server.h"
#include "base/limits.h"
#include "base/numbers.h"
#include "base/settings.h"
#include "bans/ban_base.h"
#include "log/logs.h"
#include "platform/console.h"
#include "platform/file_lock.h"
#include "platform/program_dir.h"
#include "platform/stop_signal.h"
#include "bans/shared/postgres_ban_store.h"

namespace {

// "for ever", "1 minute" or "N minutes": how long a ban made now lasts.
std::string BanTimeText(int32_t minutes) {
  if (minutes == 0) return "for ever";
  return MinutesText(minutes);
}

void Quoted(const std::string& label, const std::string& value) {
  platform::ConsoleLine(label + "\"" + value + "\"");
}

void PrintSettings(const TServer& server) {
  const SettingsRecord& settings = server.State.Settings;
  Quoted("Rcon host: ", settings.RconHost);
  Quoted("Rcon port: ", std::to_string(settings.RconPort));
  // Only the length: the listing lands in journals and terminal scroll-back.
  Quoted("Rcon pass: ", std::string(settings.RconPass.size(), '*'));
  Quoted("Comment: ", settings.Comment);
  Quoted("Client version: ", settings.ClientVersion);
  platform::ConsoleLine("ID: " + settings.ClientId);
  platform::ConsoleLine("Ban time: " + BanTimeText(settings.BanTime));
  Quoted("Ban base: ", IsSharedBanBase(settings.BanBase) ? ShownBanBase(settings.BanBase) : "file");
  Quoted("Status query: ", ConfigWord(kStatusQueryWords, settings.StatusQueryMode));
  if (settings.MaxConnectionsPerAddress > 0) {
    Quoted("Connections per address: ", std::to_string(settings.MaxConnectionsPerAddress));
  }
  Quoted("Chat command: ", ConfigWord(kChatCommandWords, settings.ChatCommandMode));
  if (!settings.AppealUrl.empty()) Quoted("Appeal URL: ", settings.AppealUrl);
  platform::ConsoleLine(settings.StartupGraceSeconds == 0
                            ? "Startup grace: off"
                            : "Startup grace: " + std::to_string(settings.StartupGraceSeconds) + " s");
  const bool screensBound = server.ScreenServer && server.ScreenServer->BoundPort() != 0;
  if (settings.AllowScreens && !screensBound) {
    platform::ConsoleLine("Screens function: OFF (allow_screens is 1, but UDP port " +
                          std::to_string(settings.RconPort + kCommandPortOffset) + " could not be bound)");
  } else {
    platform::ConsoleLine(settings.AllowScreens ? "Screens function: ON" : "Screens function: OFF");
  }
  if (settings.AllowScreens && screensBound) {
    platform::ConsoleLine("Server will take screens every ~" + std::to_string(settings.ScreenInterval) + " minutes");
  }
  platform::ConsoleLine(std::string(46, '='));
  platform::SetConsoleTitle("Server is running ...");
  const std::string port = std::to_string(settings.RconPort + kCommandPortOffset);
  if (server.ScreenServer && server.ScreenServer->BoundPort() != 0) {
    platform::ConsoleLine("Server successfully started and running on ports:(TCP)" + port + ",(UDP)" + port);
  } else {
    platform::ConsoleLine("Server successfully started and running on TCP port:(TCP)" + port);
  }
}

// Takes the data directory for this process's life: a second server there
// would share its files and kick the players whose clients are registered
// with the first. nullopt (after the line that says why) when it cannot.
std::optional<platform::TFileLock> TakeDataDirectory() {
  const std::string dir = platform::DataDirectory();
  std::string holder;
  std::string error;
  std::optional<platform::TFileLock> lock =
      platform::TFileLock::TryAcquireAndMark(dir + kInstanceLockFile, &holder, &error);
  if (lock) return lock;
  if (error.empty()) {
    platform::ConsoleLine("Another acserver (process " + holder + ") is running with the data directory " + dir +
                          "; this one stops");
  } else {
    platform::ConsoleLine("The data directory " + dir + " cannot be written (" + error + "); the server stops");
  }
  return std::nullopt;
}

}  // namespace

int RunProgram(const TimingRecord& timing) {
  platform::ConsoleLine(std::string("AntiCheat System \"Varnok\" server v") + kVersionText);
  const std::optional<platform::TFileLock> instance = TakeDataDirectory();
  if (!instance) return 1;
  SettingsRecord settings;
  if (!LoadConfig(settings) || !CheckRconPort(settings)) return 1;
  RemoveBanBaseLeftovers();
  settings.ScreenDir = NormaliseScreenDir(settings.ScreenDir);

  TServer server(settings, timing);
  if (!server.CommandPortBound()) {
    platform::ConsoleLine("The server stops: without its command port no client can register, and every player "
                          "would be kicked");
    return 1;
  }
  try {
    PrintSettings(server);
    server.BeginStartupGrace();
    RunMainLoop(server);
  } catch (const std::exception& e) {
    WriteEvent(std::string("Server stopped: fatal error: ") + e.what());
    if (!server.Release()) platform::EndProcessNow(1);  // as below
    return 1;
  }
  const bool ended = server.Release();
  if (!ended) platform::ConsoleLine("Terminate Thread Timeout");
  WriteEvent("Server stopped: " + platform::StopReason());
  // A connection thread that outlived the release may still be in a handler,
  // working on the server's tables: the process ends here rather than destroy
  // them under it.
  if (!ended) platform::EndProcessNow(1);
  return 0;
}
