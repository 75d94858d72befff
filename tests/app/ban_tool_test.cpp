// The ban records from the command line, through the real programs: an old
// zelk_bans.txt becomes records, a ban by hand is enforced by the file, and
// every lift leaves who and why in the history.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/test_env.h"

namespace {

struct TRun {
  int Status = -1;
  std::string Out;
};

class BanTool : public ::testing::Test {
 protected:
  TRun Run(const std::string& program, const std::vector<std::string>& args) {
    testenv::TChildProcess child(program, {"ACSERVER_HOME=" + dir_.Path()}, "/", args);
    TRun run;
    run.Status = child.WaitForExit(10000);
    run.Out = child.Output();
    return run;
  }
  TRun Bans(const std::vector<std::string>& args) { return Run(BANS_BINARY, args); }
  testenv::TTempDir dir_;
};

TEST_F(BanTool, ImportsTheOldFileThenBansAndLiftsOnRecord) {
  testenv::WriteFile(dir_.Path() + "zelk_bans.txt", ";header\r\n\"p\" \"OLD:1\"\r\n\"30\" \"OLD:2\"\r\n");

  const TRun imported = Bans({"list", "--json"});
  ASSERT_EQ(imported.Status, 0) << imported.Out;
  EXPECT_NE(imported.Out.find("\"total\":2"), std::string::npos) << imported.Out;
  EXPECT_NE(imported.Out.find("\"kind\":\"imported\""), std::string::npos);
  EXPECT_NE(Bans({"list", "--json"}).Out.find("\"total\":2"), std::string::npos) << "imported once";

  const TRun banned = Bans({"ban", "NEW:3", "--minutes", "60", "--name", "Bob", "--reason", "wallhack in demo"});
  ASSERT_EQ(banned.Status, 0) << banned.Out;
  EXPECT_NE(testenv::ReadFile(dir_.Path() + "zelk_bans.txt").find("\"60\" \"NEW:3\""), std::string::npos)
      << "the file enforces it";
  EXPECT_EQ(Bans({"ban", "NEW:3"}).Status, 2) << "a ban needs a reason";

  const TRun lifted = Run(UNBAN_BINARY, {"--reason", "appeal", "NEW:3"});
  ASSERT_EQ(lifted.Status, 0) << lifted.Out;
  ASSERT_EQ(Bans({"ban", "NEW:3", "--reason", "again"}).Status, 0);
  ASSERT_EQ(Bans({"lift", "NEW:3", "--reason", "second appeal"}).Status, 0);
  EXPECT_EQ(Bans({"lift", "NEW:3", "--reason", "nothing left"}).Status, 1);

  const TRun history = Bans({"history", "NEW:3", "--json"});
  ASSERT_EQ(history.Status, 0);
  EXPECT_NE(history.Out.find("\"total\":2"), std::string::npos) << history.Out;
  EXPECT_NE(history.Out.find("\"reason\":\"wallhack in demo\""), std::string::npos);
  EXPECT_NE(history.Out.find("\"from\":\"command line (acserver-unban)\",\"reason\":\"appeal\""), std::string::npos)
      << history.Out;
  EXPECT_NE(history.Out.find("\"reason\":\"second appeal\""), std::string::npos);
  EXPECT_NE(history.Out.find("\"kind\":\"command line\",\"name\":\""), std::string::npos);

  const TRun search = Bans({"list", "--all", "WALLHACK"});
  EXPECT_NE(search.Out.find("NEW:3"), std::string::npos) << search.Out;
  EXPECT_EQ(search.Out.find("OLD:1"), std::string::npos) << search.Out;
  EXPECT_NE(search.Out.find("page 1 of 1, 1 record\n"), std::string::npos) << search.Out;
}

}  // namespace
