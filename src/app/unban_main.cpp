// acserver-unban: lifts a ban while the server runs, on either ban base.
//
//   acserver-unban IDENTIFIER   removes every ban of the identifier
//   acserver-unban --list       prints the bans in force
//   acserver-unban --import     moves the records of zelk_bans.txt into the
//                               shared ban base (importing again adds nothing)
//
// The data directory is found like the server finds it: ACSERVER_HOME when
// set, else beside this program; its zelk_config.txt says which ban base is
// in use ("ban_base"). On the file base the tool takes the lock file that the
// server holds around every access, so the server's minute-by-minute rewrite
// can neither overwrite the change nor be half-read by it; on the shared base
// it works on the database directly, and every server sees the change at its
// next refresh (within 30 seconds).
// Exit status: 0 done, 1 no such ban, 2 usage, file or database error.
#include <cstdio>
#include <string>
#include <vector>

#include "app/config_file.h"
#include "base/settings.h"
#include "game/ban_base.h"
#include "game/ban_store.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "sharedbans/postgres_ban_store.h"

namespace {

int Fail(const std::string& error) {
  std::fprintf(stderr, "acserver-unban: %s\n", error.c_str());
  return 2;
}

// The file base's records as they stand; the shared base's bans with the
// minutes left, derived from their end times.
int List(const std::string& uri) {
  std::string error;
  if (uri.empty()) {
    std::vector<std::string> records;
    if (!ReadBanRecords(records, &error)) return Fail(error);
    if (!platform::FileExists(BanBasePath())) std::printf("no ban base at %s\n", BanBasePath().c_str());
    for (const std::string& record : records) std::printf("%s\n", record.c_str());
    return 0;
  }
  std::vector<TBanView> bans;
  if (!ListSharedBans(uri, bans, &error)) return Fail(error);
  for (const TBanView& ban : bans) {
    std::printf("%s  %s\n", ban.Identifier.c_str(),
                ban.Forever ? "for ever" : (std::to_string(ban.MinutesLeft) + " minutes left").c_str());
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::string(argv[1]).empty() || std::string(argv[1]) == "--help") {
    std::fprintf(stderr, "usage: acserver-unban IDENTIFIER | --list | --import\n");
    return 2;
  }
  const std::string argument = argv[1];
  const std::string banBase = QuietConfigValue("ban_base");
  const std::string uri = IsSharedBanBase(banBase) ? banBase : std::string();
  if (argument == "--list") return List(uri);
  if (argument == "--import") return Import(uri);
  const LiftResult result = uri.empty() ? BanStore().Lift(argument) : LiftSharedBan(uri, argument);
  if (!result.Error.empty()) return Fail(result.Error);
  if (result.Removed == 0) {
    std::printf("no ban for \"%s\" in %s\n", argument.c_str(), uri.empty() ? BanBasePath().c_str() : "the shared ban base");
    return 1;
  }
  std::printf("lifted %d record%s for \"%s\"\n", result.Removed, result.Removed == 1 ? "" : "s", argument.c_str());
  return 0;
}
