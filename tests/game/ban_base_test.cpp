// The ban base file: lookups, appends, the minute's count-down and its safety.
#include "game/ban_base.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/files.h"
#include "support/test_env.h"

namespace {

class BanBaseTest : public ::testing::Test {
 protected:
  void SetUp() override { testenv::ResetProcessState(dir_.Path()); }
  std::string BasePath() const { return dir_.Path() + "zelk_bans.txt"; }
  std::string FullLog() const { return testenv::ReadFile(dir_.Path() + "logs/zelk_logs.txt"); }
  testenv::TTempDir dir_;
};

TEST_F(BanBaseTest, LookupSkipsCommentsAndMatchesExactly) {
  EXPECT_EQ(IsBanned("X"), BanLookup::NotBanned) << "no base";
  ASSERT_TRUE(AppendBanRecord(5, "Abc"));
  testenv::WriteFile(BasePath(), testenv::ReadFile(BasePath()) + "\r\n; \"p\" \"Hidden\"\n");
  EXPECT_EQ(IsBanned("Abc"), BanLookup::Banned);
  EXPECT_EQ(IsBanned("abc"), BanLookup::NotBanned);
  EXPECT_EQ(IsBanned("Hidden"), BanLookup::NotBanned);
  EXPECT_EQ(IsBanned(""), BanLookup::NotBanned);
}

TEST_F(BanBaseTest, UnreadableBaseFailsTheLookupWithALogLine) {
  std::filesystem::create_directory(BasePath());
  EXPECT_EQ(IsBanned("X"), BanLookup::Failed);
  EXPECT_FALSE(AppendBanRecord(0, "X"));
  MaintainBanFile();
  const std::string log = FullLog();
  EXPECT_NE(log.find("ERROR: cannot read the ban base " + BasePath()), std::string::npos);
  EXPECT_NE(log.find("ERROR: cannot write the ban base " + BasePath()), std::string::npos);
}

TEST_F(BanBaseTest, MaintenanceCountsDownAndDrops) {
  testenv::WriteFile(BasePath(),
                     ";head\r\n\"5\" \"X\"\r\n\"1\" \"Y\"\n\"p\" \"Z\" \"third\" tail\r\n\"3\" \"W\" tail\r\n"
                     "no quotes here\r\n\r\n\"abc\" \"V\"\r\n\"-4\" \"N\"\r\n");
  MaintainBanFile();
  EXPECT_EQ(testenv::ReadFile(BasePath()), ";head\r\n\"4\" \"X\"\r\n\"p\" \"Z\" \"third\" tail\r\n\"2\" \"W\"\r\n");
  EXPECT_EQ(testenv::CountOf(FullLog(), "Unknown ban line format.\r\n"), 2)
      << "once for each line without a known duration";
  MaintainBanFile();
  MaintainBanFile();
  EXPECT_EQ(testenv::ReadFile(BasePath()), ";head\r\n\"2\" \"X\"\r\n\"p\" \"Z\" \"third\" tail\r\n");
}

// A process killed at any moment of the maintenance leaves the old or the new
// base whole: every record present, all counted down the same number of times.
TEST_F(BanBaseTest, KillDuringMaintenanceLeavesAWholeBase) {
  constexpr int kRecords = 400;
  std::string base = ";head\r\n";
  for (int i = 0; i < kRecords; ++i) base += "\"1000000\" \"id" + std::to_string(i) + "\"\r\n";
  testenv::WriteFile(BasePath(), base);
  std::string duration;
  for (int round = 0; round < 6; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (;;) MaintainBanFile();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(15 + 20 * round));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);

    std::vector<std::string> lines;
    ASSERT_TRUE(platform::ReadTextLines(BasePath(), lines));
    ASSERT_EQ(lines.size(), static_cast<size_t>(kRecords + 1)) << "round " << round;
    EXPECT_EQ(lines[0], ";head");
    duration = lines[1].substr(0, lines[1].find(' '));
    for (int i = 0; i < kRecords; ++i) {
      ASSERT_EQ(lines[i + 1], duration + " \"id" + std::to_string(i) + "\"") << "round " << round;
    }
  }
  EXPECT_NE(duration, "\"1000000\"") << "the children got through some passes";
}

}  // namespace
