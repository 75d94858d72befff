// acserver-unban: lifts a ban while the server runs.
//
//   acserver-unban IDENTIFIER   removes every record of the identifier
//   acserver-unban --list       prints the records of the ban base
//
// The ban base is found like the server finds it: in ACSERVER_HOME when set,
// else beside this program. The tool takes the lock file that the server holds
// around every access to the base, so the server's minute-by-minute rewrite
// can neither overwrite the change nor be half-read by it.
// Exit status: 0 removed (or listed), 1 no such record, 2 usage or file error.
#include <cstdio>
#include <string>
#include <vector>

#include "game/ban_base.h"
#include "platform/files.h"

namespace {

int List() {
  std::vector<std::string> records;
  std::string error;
  if (!ReadBanRecords(records, &error)) {
    std::fprintf(stderr, "acserver-unban: %s\n", error.c_str());
    return 2;
  }
  if (!platform::FileExists(BanBasePath())) std::printf("no ban base at %s\n", BanBasePath().c_str());
  for (const std::string& record : records) std::printf("%s\n", record.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::string(argv[1]).empty() || std::string(argv[1]) == "--help") {
    std::fprintf(stderr, "usage: acserver-unban IDENTIFIER | --list\n");
    return 2;
  }
  const std::string argument = argv[1];
  if (argument == "--list") return List();
  const LiftResult result = LiftBan(argument);
  if (!result.Error.empty()) {
    std::fprintf(stderr, "acserver-unban: %s\n", result.Error.c_str());
    return 2;
  }
  if (result.Removed == 0) {
    std::printf("no ban for \"%s\" in %s\n", argument.c_str(), BanBasePath().c_str());
    return 1;
  }
  std::printf("lifted %d record%s for \"%s\"\n", result.Removed, result.Removed == 1 ? "" : "s", argument.c_str());
  return 0;
}
