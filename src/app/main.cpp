// acserver: the server half of the anti-cheat system. Everything it does comes
// from zelk_config.txt in its data directory; the only arguments are --help
// and --version.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/config_file.h"
#include "app/startup.h"
#include "base/limits.h"
#include "base/timing.h"
#include "platform/clock_text.h"
#include "platform/console.h"
#include "platform/stop_signal.h"

namespace {

constexpr const char* kUsage =
    "Usage: acserver [--help | --version]\n"
    "\n"
    "Runs the anti-cheat server beside one Counter-Strike 1.6 game server until\n"
    "SIGINT or SIGTERM. It takes no other arguments: every setting comes from\n"
    "zelk_config.txt in the data directory.\n"
    "\n"
    "Data directory: the directory of the program file, or $ACSERVER_HOME when set.\n"
    "It holds:\n"
    "  zelk_config.txt          the settings (required)\n"
    "  allow_connections.txt    players allowed without a client (optional)\n"
    "  zelk_bans.txt            the ban base\n"
    "  logs/                    zelk_logs.txt (full log, archived at every start),\n"
    "                           zelk_light_logs.txt (short log)\n"
    "  zelk_screens/            screenshots, unless scr_dir says otherwise\n"
    "  acserver.lock            held while a server runs there (one per directory)\n"
    "\n"
    "Environment:\n"
    "  ACSERVER_HOME     the data directory\n"
    "  ACSERVER_TICK_MS  the main loop's tick in ms, 1 to 1000 (tests only)\n"
    "\n"
    "Exit status: 0 after an orderly stop, 1 when the server cannot start or run,\n"
    "2 for a bad argument.\n";

// The keys zelk_config.txt knows, from the table that parsing reads, as an
// indented list wrapped before 80 columns.
std::string KeysText() {
  std::string text = "\nKeys of zelk_config.txt (docs/operations.md describes each):\n";
  std::string row = " ";
  for (const std::string& key : ConfigKeyNames()) {
    if (row.size() + key.size() + 1 > 78) {
      text += row;
      text += '\n';
      row.erase(1);  // the next row starts with the same blank
    }
    row += ' ';
    row += key;
  }
  text += row;
  text += '\n';
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  platform::InitConsole();
  if (argc > 1) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
      std::fputs(kUsage, stdout);
      std::fputs(KeysText().c_str(), stdout);
      return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
      std::printf("acserver %s\n", kVersionText);
      return 0;
    }
    std::fprintf(stderr, "acserver: unknown argument '%s'\n%s", argv[1], kUsage);
    return 2;
  }
  platform::InitClockTexts();
  platform::InstallStopHandlers();
  TimingRecord timing;
  ApplyTimingFromEnvironment(timing);
  return RunProgram(timing);
}
