// acserver-bans: the ban records from the command line, on either ban base.
//
//   acserver-bans list [--in-force | --ended | --all] [--page N] [--per-page N] [--json] [TEXT]
//   acserver-bans show ID [--json]
//   acserver-bans history IDENTIFIER [--json]
//   acserver-bans ban IDENTIFIER --reason TEXT [--minutes N] [--name NAME]
//   acserver-bans lift IDENTIFIER --reason TEXT
//   acserver-bans import FILE [--reason TEXT]
//   acserver-bans account list [--json] | add NAME ROLE | role NAME ROLE | passwd NAME
//                         | disable NAME | enable NAME
//   acserver-bans --help | -h | --version
//
// The data directory and the ban base are found as the server finds them
// (ACSERVER_HOME, else beside the program; "ban_base" in zelk_config.txt). On
// the file base a ban goes into zelk_bans.txt under its lock file, as the
// server's own bans do, and its record into acserver.db beside it; on the
// shared base both go into the database. Either way the running server turns
// the banned identifier away at its next connect. When acserver.db cannot be
// written (locked by another process, broken), a ban or lift is made in
// zelk_bans.txt all the same and its record waits beside the base for the
// server's next minute. Bans and lifts are written to the full log with the
// real user who ran the tool.
// Exit status: 0 done, 1 nothing found, 2 usage, file or database error.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/account_tool.h"
#include "app/ban_tool.h"
#include "base/limits.h"
#include "base/numbers.h"
#include "platform/clock_text.h"
#include "platform/console.h"

namespace {

constexpr const char* kUsage =
    "usage: acserver-bans list [--in-force | --ended | --all] [--page N] [--per-page N] [--json] [TEXT]\n"
    "       acserver-bans show ID [--json]\n"
    "       acserver-bans history IDENTIFIER [--json]\n"
    "       acserver-bans ban IDENTIFIER --reason TEXT [--minutes N] [--name NAME]\n"
    "       acserver-bans lift IDENTIFIER --reason TEXT\n"
    "       acserver-bans import FILE [--reason TEXT]\n"
    "       acserver-bans account list [--json] | add NAME ROLE | role NAME ROLE | passwd NAME\n"
    "                             | disable NAME | enable NAME\n"
    "       acserver-bans --help | --version\n";

constexpr const char* kHelp =
    "\n"
    "The ban records of the ban base the server uses (\"ban_base\" in\n"
    "zelk_config.txt: zelk_bans.txt with its records in acserver.db, or the shared\n"
    "base in PostgreSQL).\n"
    "\n"
    "  list [TEXT]        the records, newest first; TEXT matches any part of the\n"
    "                     player name, identifier, address or reason (case ignored)\n"
    "    --in-force       only bans in force (the default)\n"
    "    --ended          only bans lifted or expired\n"
    "    --all            both\n"
    "    --page N         the page (from 1), of --per-page N records (default 50)\n"
    "  show ID            one record in full, its evidence and the identifier's\n"
    "                     other bans\n"
    "  history IDENTIFIER every ban of the identifier, newest first\n"
    "  ban IDENTIFIER     bans by hand: --reason TEXT is needed (up to 64 bytes),\n"
    "                     --minutes N (default: for ever), --name NAME (the player)\n"
    "  lift IDENTIFIER    lifts every ban of the identifier: --reason TEXT is needed\n"
    "  import FILE        adds the bans of the game server's banned.cfg or listip.cfg\n"
    "                     (a name ending in .cfg) or of a CSV file (identifier,\n"
    "                     name, reason, made, minutes) to zelk_bans.txt and\n"
    "                     acserver.db, in one step; --reason TEXT for lines\n"
    "                     without one\n"
    "  account ...        the web console's accounts: list; add NAME ROLE (viewer,\n"
    "                     admin or owner; the first must be an owner); role NAME\n"
    "                     ROLE; passwd NAME; disable NAME; enable NAME. A password\n"
    "                     is read from standard input (not shown at a terminal)\n"
    "  An identifier has 1 to 64 bytes, without double quotes or control bytes.\n"
    "  --json             list, show and history as JSON (the web console's shapes)\n"
    "  -h, --help         this text\n"
    "  --version          the version\n"
    "  --                 the end of the options (an identifier that begins with -)\n"
    "\n"
    "Data directory: $ACSERVER_HOME when set, else the directory of the program.\n"
    "Run it as the server's user, so that the files it writes stay the server's.\n"
    "\n"
    "Exit status: 0 done, 1 nothing found, 2 usage, file or database error.\n";

int UsageError(const std::string& error) {
  std::fprintf(stderr, "acserver-bans: %s\n%sTry 'acserver-bans --help'.\n", error.c_str(), kUsage);
  return 2;
}

TBanToolRequest Only(BanToolAction action) {
  TBanToolRequest request;
  request.What = action;
  return request;
}

// A whole number from 1 to most, or nullopt.
std::optional<int> Positive(const std::string& text, int64_t most) {
  const std::optional<int64_t> number = ParseInteger(text);
  if (!number || *number < 1 || *number > most) return std::nullopt;
  return static_cast<int>(*number);
}

// The request the arguments make; nullopt with the reason in error.
std::optional<TBanToolRequest> ParseArguments(const std::vector<std::string>& args, std::string* error) {
  TBanToolRequest request;
  if (args.empty()) {
    *error = "no command given";
    return std::nullopt;
  }
  const std::string& command = args[0];
  if (command == "--help" || command == "-h") return Only(BanToolAction::Help);
  if (command == "--version") return Only(BanToolAction::Version);
  if (!ParseBanToolAction(command, &request.What)) {
    *error = "unknown command '" + command + "'";
    return std::nullopt;
  }
  std::vector<std::string> words;
  bool optionsEnded = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-') {
      words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") return Only(BanToolAction::Help);
    if (arg == "--json") {
      request.Json = true;
      continue;
    }
    if (arg == "--in-force" || arg == "--ended" || arg == "--all") {
      request.Query.Filter = arg == "--all"     ? TBanQuery::Which::All
                             : arg == "--ended" ? TBanQuery::Which::Ended
                                                : TBanQuery::Which::InForce;
      continue;
    }
    // The options with a value: "--name VALUE" or "--name=VALUE".
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    if (name != "--reason" && name != "--name" && name != "--minutes" && name != "--page" && name != "--per-page") {
      *error = "unknown option '" + arg + "'";
      return std::nullopt;
    }
    if (equals == std::string::npos && i + 1 == args.size()) {
      *error = name + " needs a value";
      return std::nullopt;
    }
    const std::string value = equals == std::string::npos ? args[++i] : arg.substr(equals + 1);
    if (name == "--reason") {
      request.Reason = value;
    } else if (name == "--name") {
      request.Name = value;
    } else if (name == "--minutes") {
      const std::optional<int> minutes = Positive(value, 525600000);
      if (!minutes) {
        *error = "--minutes needs a whole number from 1 (leave it out for a ban for ever)";
        return std::nullopt;
      }
      request.Minutes = *minutes;
    } else {
      const std::optional<int> number = Positive(value, 1000000);
      if (!number) {
        *error = name + " needs a whole number from 1";
        return std::nullopt;
      }
      (name == "--page" ? request.Query.Page : request.Query.PerPage) = *number;
    }
  }
  const bool takesText = request.What == BanToolAction::List;
  if (words.size() > 1 || (!takesText && words.empty())) {
    *error = takesText ? "one search text at a time" : command + " needs one argument";
    return std::nullopt;
  }
  if (!words.empty()) (takesText ? request.Query.Text : request.Argument) = words[0];
  if (request.What == BanToolAction::Import && request.Argument.empty()) {
    *error = "import needs the file's path";
    return std::nullopt;
  }
  if ((request.What == BanToolAction::Ban || request.What == BanToolAction::Lift) && request.Reason.empty()) {
    *error = command + " needs --reason TEXT";
    return std::nullopt;
  }
  return request;
}

}  // namespace

int main(int argc, char** argv) {
  platform::InitConsole();
  std::string error;
  if (argc > 1 && std::string(argv[1]) == "account") {
    std::vector<std::string> words;
    bool json = false;
    for (int i = 2; i < argc; ++i) {
      const std::string arg = argv[i];
      if (arg == "--json") {
        json = true;
      } else if (!arg.empty() && arg[0] == '-') {
        return UsageError("unknown option '" + arg + "'");
      } else {
        words.push_back(arg);
      }
    }
    platform::InitClockTexts();
    return RunAccountTool(words, json);
  }
  const std::optional<TBanToolRequest> request =
      ParseArguments(std::vector<std::string>(argv + 1, argv + argc), &error);
  if (!request) return UsageError(error);
  if (request->What == BanToolAction::Help) {
    std::printf("%s%s", kUsage, kHelp);
    return 0;
  }
  if (request->What == BanToolAction::Version) {
    std::printf("acserver-bans %s\n", kVersionText);
    return 0;
  }
  platform::InitClockTexts();
  return RunBanTool(*request);
}
