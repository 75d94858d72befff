// acserver-unban: lifts a ban while the server runs, on either ban base.
//
//   acserver-unban [--reason TEXT] IDENTIFIER   removes every ban of the identifier
//   acserver-unban --list       prints the bans in force, with the time left
//   acserver-unban --import     moves the records of zelk_bans.txt into the
//                               shared ban base (importing again adds nothing)
//   acserver-unban --help | -h | --version
//
// The data directory is found like the server finds it: ACSERVER_HOME when
// set, else beside this program; its zelk_config.txt says which ban base is
// in use ("ban_base"). On the file base the tool takes the lock file that the
// server holds around every access, so the server's minute-by-minute rewrite
// can neither overwrite the change nor be half-read by it; on the shared base
// it works on the database directly, and every server sees the change at its
// next refresh (within 30 seconds).
//
// Every lift is written to the full log, with the real user who ran the tool
// and the reason when one is given; a log that cannot be written costs a
// warning, not the lift.
// Exit status: 0 done, 1 no such ban, 2 usage, file or database error, 3 no
// ban base at all (the file base has no zelk_bans.txt: check ACSERVER_HOME).
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/config_file.h"
#include "base/settings.h"
#include "base/limits.h"
#include "base/numbers.h"
#include "bans/ban_base.h"
#include "bans/ban_store.h"
#include "log/logs.h"
#include "platform/clock_text.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "bans/records/file_records.h"
#include "bans/records/pending_records.h"
#include "bans/records/record_base.h"
#include "bans/shared/postgres_ban_store.h"

namespace {

constexpr const char* kUsage =
    "usage: acserver-unban [--reason TEXT] IDENTIFIER\n"
    "       acserver-unban --list | --import | --help | --version\n";

constexpr const char* kHelp =
    "\n"
    "Lifts a ban while the server runs, on the ban base the server uses (\"ban_base\"\n"
    "in zelk_config.txt: the file zelk_bans.txt or the shared base in PostgreSQL).\n"
    "\n"
    "  IDENTIFIER      remove every ban of the client identifier; the lift is\n"
    "                  written to logs/zelk_logs.txt with the user who ran the tool\n"
    "  --reason TEXT   why, for that log line\n"
    "  --list          the bans in force: identifier and time left\n"
    "  --import        move the records of zelk_bans.txt into the shared ban base\n"
    "  -h, --help      this text\n"
    "  --version       the version\n"
    "  --              the end of the options (an identifier that begins with -)\n"
    "\n"
    "Data directory: $ACSERVER_HOME when set, else the directory of the program.\n"
    "Run it as the server's user, so that the files it rewrites stay the server's.\n"
    "\n"
    "An identifier has 1 to 64 bytes, without double quotes or control bytes.\n"
    "\n"
    "Exit status: 0 done, 1 no such ban, 2 usage, file or database error.\n"
    "Exit status 3: no ban base (no zelk_bans.txt in the data directory).\n";

enum class Action { Lift, List, Import, Help, Version };

struct TRequest {
  Action What = Action::Lift;
  std::string Identifier;
  std::string Reason;
};

int Fail(const std::string& error) {
  std::fprintf(stderr, "acserver-unban: %s\n", error.c_str());
  return 2;
}

// Exit status 3: the file base has no zelk_bans.txt, so there is nothing to
// list or lift; most often ACSERVER_HOME names the wrong directory.
int NoBanBase() {
  std::fflush(stdout);
  std::fprintf(stderr, "acserver-unban: no ban base at %s (is ACSERVER_HOME the server's data directory?)\n",
               BanBasePath().c_str());
  return 3;
}

int UsageError(const std::string& error) {
  std::fprintf(stderr, "acserver-unban: %s\n%sTry 'acserver-unban --help'.\n", error.c_str(), kUsage);
  return 2;
}

// The request the arguments make; nullopt with the reason in error. Help and
// version end the reading where they stand; anything else that begins with
// "-" before "--" is an unknown option, never an identifier.
std::optional<TRequest> ParseArguments(const std::vector<std::string>& args, std::string* error) {
  TRequest request;
  bool actionGiven = false;
  bool identifierGiven = false;
  bool reasonGiven = false;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-') {
      if (identifierGiven) {
        *error = "one identifier at a time";
        return std::nullopt;
      }
      request.Identifier = arg;
      identifierGiven = true;
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      return TRequest{Action::Help, "", ""};
    } else if (arg == "--version") {
      return TRequest{Action::Version, "", ""};
    } else if (arg == "--list" || arg == "--import") {
      if (actionGiven && request.What != (arg == "--list" ? Action::List : Action::Import)) {
        *error = "--list and --import cannot be combined";
        return std::nullopt;
      }
      request.What = arg == "--list" ? Action::List : Action::Import;
      actionGiven = true;
    } else if (arg == "--reason" || arg.rfind("--reason=", 0) == 0) {
      if (arg == "--reason" && i + 1 == args.size()) {
        *error = "--reason needs a text";
        return std::nullopt;
      }
      request.Reason = arg == "--reason" ? args[++i] : arg.substr(9);
      reasonGiven = true;
    } else {
      *error = "unknown option '" + arg + "'";
      return std::nullopt;
    }
  }
  if (actionGiven && (identifierGiven || reasonGiven)) {
    *error = std::string(request.What == Action::List ? "--list" : "--import") + " takes no identifier or reason";
    return std::nullopt;
  }
  if (!actionGiven && (!identifierGiven || request.Identifier.empty())) {
    *error = "no identifier given";
    return std::nullopt;
  }
  return request;
}

// The bans in force, both bases alike: a header, then the identifier and the
// time left in aligned columns.
int List(const std::string& uri) {
  std::string error;
  std::vector<TBanView> bans;
  if (uri.empty()) {
    if (!platform::FileExists(BanBasePath())) return NoBanBase();
    if (!TFileBanStore().List(bans, &error)) return Fail(error);
  } else if (!ListSharedBans(uri, bans, &error)) {
    return Fail(error);
  }
  const std::string head = "IDENTIFIER";
  size_t width = head.size();
  for (TBanView& ban : bans) {
    ban.Identifier = platform::WithoutControlBytes(ban.Identifier);  // it came from a client
    width = std::max(width, ban.Identifier.size());
  }
  const int column = static_cast<int>(width) + 2;
  std::printf("%-*s%s\n", column, head.c_str(), "TIME LEFT");
  for (const TBanView& ban : bans) {
    const std::string left = ban.Forever ? "for ever" : MinutesText(ban.MinutesLeft) + " left";
    std::printf("%-*s%s\n", column, ban.Identifier.c_str(), left.c_str());
  }
  return 0;
}

int Import(const std::string& uri) {
  if (uri.empty()) return Fail("ban_base in zelk_config.txt names no shared ban base to import into");
  std::vector<std::string> records;
  std::string error;
  if (!ReadBanRecords(records, &error)) return Fail(error);
  int moved = 0;
  int kept = 0;
  if (!ImportBanFile(uri, platform::HostName() + " (import)", records, &moved, &kept, &error)) return Fail(error);
  std::printf("moved %d ban%s from %s into the shared ban base (%d there already)\n", moved, moved == 1 ? "" : "s",
              BanBasePath().c_str(), kept);
  return 0;
}

int Lift(const std::string& uri, const TRequest& request) {
  const std::string& identifier = request.Identifier;
  if (const std::string problem = BanIdentifierProblem(identifier); !problem.empty()) {
    return Fail("the identifier \"" + platform::WithoutControlBytes(identifier) + "\" " + problem + "; nothing changed");
  }
  if (uri.empty() && !platform::FileExists(BanBasePath())) return NoBanBase();
  std::string reason = request.Reason;
  if (reason.size() > kLogFieldChars) {
    size_t end = kLogFieldChars;
    while (end > 0 && (static_cast<unsigned char>(reason[end]) & 0xC0) == 0x80) --end;
    reason.resize(end);
    std::fprintf(stderr, "acserver-unban: warning: the reason is longer than %zu bytes; kept: %s\n", kLogFieldChars,
                 platform::WithoutControlBytes(reason).c_str());
  }
  const TBanLift lift{platform::RealUserName(), "command line (acserver-unban)", reason};
  const LiftResult result = uri.empty() ? TFileBanStore().Lift(identifier, lift) : LiftSharedBan(uri, identifier, lift);
  if (!result.Error.empty()) return Fail(result.Error);
  if (uri.empty() && result.Removed > 0) {
    // The record of the lift, beside the file base; a record base that cannot
    // be written costs a warning, not the lift.
    // When acserver.db cannot be written, the record of the lift waits beside
    // it for the server's next minute (records/pending_records.h).
    records::TRecordBase recordBase;
    std::string error;
    const int64_t now = platform::UnixSeconds();
    if (!recordBase.Open(records::RecordBasePath(), &error) || !records::WritePending(recordBase, &error) ||
        !recordBase.Lift(identifier, lift, now, &error)) {
      const std::string why = error.find("database is locked") != std::string::npos ? "locked by another process" : error;
      if (records::KeepPending({true, {}, identifier, lift, now}, &error)) {
        std::printf("lifted in zelk_bans.txt; the record waits for acserver.db (%s) in %s\n", why.c_str(),
                    records::PendingRecordsPath().c_str());
      } else {
        std::fprintf(stderr, "acserver-unban: warning: the lift is not in %s (%s)\n",
                     records::RecordBasePath().c_str(), (why + "; " + error).c_str());
      }
    }
  }
  if (result.Removed == 0) {
    std::printf("no ban for \"%s\" in %s\n", identifier.c_str(),
                uri.empty() ? BanBasePath().c_str() : "the shared ban base");
    return 1;
  }
  std::printf("lifted %d record%s for \"%s\"\n", result.Removed, result.Removed == 1 ? "" : "s", identifier.c_str());
  std::string message = "Ban of ID " + identifier + " lifted with acserver-unban by " + platform::RealUserName();
  if (!reason.empty()) message += ": " + reason;
  std::string error;
  if (AppendToFullLog(message, &error)) {
    std::printf("logged in %s\n", FullLogPath().c_str());
  } else {
    std::fflush(stdout);  // the lines in the order they happened, in a pipe too
    std::fprintf(stderr, "acserver-unban: warning: the lift is not in the full log (%s)\n", error.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  platform::InitConsole();
  std::string error;
  const std::optional<TRequest> request = ParseArguments(std::vector<std::string>(argv + 1, argv + argc), &error);
  if (!request) return UsageError(error);
  switch (request->What) {
    case Action::Help:
      std::printf("%s%s", kUsage, kHelp);
      return 0;
    case Action::Version:
      std::printf("acserver-unban %s\n", kVersionText);
      return 0;
    case Action::List:
    case Action::Import:
    case Action::Lift:
      break;
  }
  platform::InitClockTexts();
  const std::string banBase = QuietConfigValue("ban_base");
  const std::string uri = IsSharedBanBase(banBase) ? banBase : std::string();
  if (request->What == Action::List) return List(uri);
  if (request->What == Action::Import) return Import(uri);
  return Lift(uri, *request);
}
