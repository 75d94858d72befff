// The ban records from the command line, through the real programs: an old
// zelk_bans.txt becomes records, a ban by hand is enforced by the file, and
// every lift leaves who and why in the history.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bans/records/sqlite_handle.h"
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
  std::string Base() const { return testenv::ReadFile(dir_.Path() + "zelk_bans.txt"); }
  testenv::TTempDir dir_;
};

TEST_F(BanTool, ImportsTheOldFileThenBansAndLiftsOnRecord) {
  testenv::WriteFile(dir_.Path() + "zelk_config.txt", "\"rconport\" \"0x6987\"\n");
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
  EXPECT_NE(history.Out.find(":27015\""), std::string::npos) << "named as the server names itself: " << history.Out;

  const TRun search = Bans({"list", "--all", "WALLHACK"});
  EXPECT_NE(search.Out.find("NEW:3"), std::string::npos) << search.Out;
  EXPECT_EQ(search.Out.find("OLD:1"), std::string::npos) << search.Out;
  EXPECT_NE(search.Out.find("page 1 of 1, 1 record\n"), std::string::npos) << search.Out;
}

// No identifier, through any tool, makes zelk_bans.txt hold another line
// than the one intended; an import takes its good lines only, once.
TEST_F(BanTool, HostileIdentifiersAreRefusedAndListsImportOnce) {
  ASSERT_EQ(Bans({"ban", "FIRST", "--reason", "r"}).Status, 0);
  const std::string before = Base();
  for (const std::string& identifier : std::vector<std::string>{"a\"b", "x\r\n\"p\" \"VICTIM", "x\ny", std::string(65, 'i')}) {
    for (const TRun& run : {Bans({"ban", identifier, "--reason", "r"}), Bans({"lift", identifier, "--reason", "r"}),
                            Run(UNBAN_BINARY, {"--", identifier})}) {
      EXPECT_EQ(run.Status, 2) << identifier;
      EXPECT_NE(run.Out.find("the identifier \""), std::string::npos) << run.Out;
    }
  }
  EXPECT_EQ(Base(), before);

  testenv::WriteFile(dir_.Path() + "banned.cfg",
                     "banid 0.0 STEAM_0:1:11\r\n// comment\r\nbanid 30 STEAM_0:0:5 kick\r\nbanid x STEAM_0:0:6\r\n"
                     "addip 0.0 192.0.2.7\r\nbanid 0 FIRST\r\nbanid 0 STEAM_0:1:11\r\n");
  const TRun engine = Bans({"import", dir_.Path() + "banned.cfg"});
  ASSERT_EQ(engine.Status, 0) << engine.Out;
  EXPECT_NE(engine.Out.find("line 4: not \"banid"), std::string::npos) << engine.Out;
  EXPECT_NE(engine.Out.find("line 6: \"FIRST\" is banned already"), std::string::npos) << engine.Out;
  EXPECT_NE(engine.Out.find("line 7: \"STEAM_0:1:11\" is banned already"), std::string::npos) << engine.Out;
  EXPECT_NE(engine.Out.find("imported 3 bans from"), std::string::npos) << engine.Out;
  testenv::WriteFile(dir_.Path() + "list.csv",
                     "identifier,name,reason,made,minutes\n\"C:1\",\"Bob, \"\"the\"\" best\",aimbot,2025-01-02 03:04:05,0\n"
                     "\"C:2\"\" \"\"p\",x,y,,0\nC:3,x,y,yesterday,0\nC:4\n");
  const TRun csv = Bans({"import", dir_.Path() + "list.csv"});
  ASSERT_EQ(csv.Status, 0) << csv.Out;
  EXPECT_NE(csv.Out.find("line 3: the identifier has a double quote"), std::string::npos) << csv.Out;
  EXPECT_NE(csv.Out.find("line 4: made is neither"), std::string::npos) << csv.Out;
  EXPECT_NE(csv.Out.find("line 5: not 5 fields"), std::string::npos) << csv.Out;
  EXPECT_EQ(Base(), before + "\"p\" \"STEAM_0:1:11\"\r\n\"30\" \"STEAM_0:0:5\"\r\n\"p\" \"192.0.2.7\"\r\n\"p\" \"C:1\"\r\n");
  const TRun shown = Bans({"history", "C:1", "--json"});
  EXPECT_NE(shown.Out.find("\"name\":\"Bob, \\\"the\\\" best\",\"address\":\"\",\"reason\":\"aimbot\",\"made_at\":1735787045"),
            std::string::npos) << shown.Out;
  EXPECT_NE(shown.Out.find("\"kind\":\"imported\""), std::string::npos) << shown.Out;
  EXPECT_NE(Bans({"import", dir_.Path() + "list.csv"}).Out.find("imported 0 bans"), std::string::npos)
      << "a second import adds nothing";
}

// A record base locked by another process or broken costs the record, never
// the ban: the file takes it, the record waits beside the base and is written
// by the next run that can.
TEST_F(BanTool, LockedOrBrokenRecordsStillBanAndLift) {
  ASSERT_EQ(Bans({"list"}).Status, 0);
  {
    std::string error;
    std::optional<records::TSqliteDb> holder = records::TSqliteDb::Open(dir_.Path() + "acserver.db", &error);
    ASSERT_TRUE(holder && holder->Exec("BEGIN EXCLUSIVE", &error)) << error;
    const TRun banned = Bans({"ban", "LOCKED:1", "--minutes", "60", "--reason", "seen while locked"});
    EXPECT_EQ(banned.Status, 0) << banned.Out;
    EXPECT_NE(banned.Out.find("banned in zelk_bans.txt; the record waits for acserver.db (locked by another process)"),
              std::string::npos)
        << banned.Out;
  }
  EXPECT_NE(Base().find("\"60\" \"LOCKED:1\""), std::string::npos);
  const TRun history = Bans({"history", "LOCKED:1"});
  EXPECT_NE(history.Out.find("seen while locked"), std::string::npos) << history.Out;

  testenv::WriteFile(dir_.Path() + "acserver.db", std::string(4096, 'x'));
  const TRun lifted = Bans({"lift", "LOCKED:1", "--reason", "appeal"});
  EXPECT_EQ(lifted.Status, 0) << lifted.Out;
  EXPECT_NE(lifted.Out.find("lifted in zelk_bans.txt; the record waits for acserver.db (cannot open"),
            std::string::npos)
      << lifted.Out;
  EXPECT_EQ(Base().find("LOCKED:1"), std::string::npos);
  EXPECT_EQ(Bans({"list"}).Status, 2) << "reading needs the records";
  EXPECT_EQ(Run(UNBAN_BINARY, {"--list"}).Status, 0);
  testenv::TTempDir empty;
  testenv::TChildProcess noBase(UNBAN_BINARY, {"ACSERVER_HOME=" + empty.Path()}, "/", {"--list"});
  EXPECT_EQ(noBase.WaitForExit(10000), 3) << "no ban base is not an empty one";
}

}  // namespace
