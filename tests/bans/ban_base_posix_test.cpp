// The ban base through a process killed in the middle of its maintenance
// (fork and SIGKILL: POSIX only).
#include "bans/ban_base.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "support/test_env.h"

namespace {

class BanBaseKill : public ::testing::Test {
 protected:
  void SetUp() override { testenv::ResetProcessFacilities(dir_.Path()); }
  std::string BasePath() const { return dir_.Path() + "zelk_bans.txt"; }
  testenv::TTempDir dir_;
  TBanFile file_;
};

// A process killed at any moment of the maintenance leaves the old or the new
// base whole: every record present, all counted down the same number of times.
TEST_F(BanBaseKill, KillDuringMaintenanceLeavesAWholeBase) {
  constexpr int kRecords = 400;
  std::string base = ";head\r\n";
  for (int i = 0; i < kRecords; ++i) base += "\"1000000\" \"id" + std::to_string(i) + "\"\r\n";
  testenv::WriteFile(BasePath(), base);
  std::string duration;
  for (int round = 0; round < 6; ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (;;) file_.Maintain();
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
