// Lifting a ban while the server runs: the admin's tool and the server's
// maintenance share a lock, so neither change is lost.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "game/ban_base.h"
#include "platform/file_lock.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace {

class BanLift : public ::testing::Test {
 protected:
  void SetUp() override { testenv::ResetProcessState(dir_.Path()); }
  std::string Base() const { return testenv::ReadFile(BanBasePath()); }
  testenv::TTempDir dir_;
};

TEST_F(BanLift, RemovesEveryRecordOfTheIdentifierOnly) {
  ASSERT_TRUE(AppendBanRecord(30, "A"));
  ASSERT_TRUE(AppendBanRecord(0, "B"));
  ASSERT_TRUE(AppendBanRecord(5, "A"));
  const LiftResult lifted = LiftBan("A");
  EXPECT_EQ(lifted.Removed, 2);
  EXPECT_TRUE(lifted.Error.empty());
  const std::string base = Base();
  EXPECT_EQ(base.substr(0, 11), ";ATTENTION!") << "the header stays";
  EXPECT_NE(base.find("\"p\" \"B\"\r\n"), std::string::npos);
  EXPECT_EQ(base.find("\"A\""), std::string::npos);
  EXPECT_EQ(IsBanned("A"), BanLookup::NotBanned);
  EXPECT_EQ(LiftBan("a").Removed, 0) << "identifiers are case-sensitive";
}

TEST_F(BanLift, MaintenanceWaitsForTheToolAndKeepsItsChange) {
  ASSERT_TRUE(AppendBanRecord(10, "Keep"));
  ASSERT_TRUE(AppendBanRecord(10, "Lift"));
  std::string error;
  // The tool holds the lock while it edits; the server's maintenance arrives
  // meanwhile and must wait, then count down what the tool left.
  auto toolLock = platform::TFileLock::Acquire(BanBaseLockPath(), &error);
  ASSERT_TRUE(toolLock) << error;
  std::atomic<bool> maintained{false};
  std::thread maintenance([&] {
    MaintainBanFile();
    maintained = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(maintained.load()) << "the maintenance must wait for the lock";
  std::string base = Base();
  base.erase(base.find("\"10\" \"Lift\"\r\n"), std::string("\"10\" \"Lift\"\r\n").size());
  testenv::WriteFile(BanBasePath(), base);
  toolLock.reset();
  maintenance.join();
  EXPECT_NE(Base().find("\"9\" \"Keep\"\r\n"), std::string::npos);
  EXPECT_EQ(Base().find("Lift"), std::string::npos) << "the lifted ban must not come back";
}

TEST_F(BanLift, TheToolFindsTheBaseInTheDataDirectory) {
  ASSERT_TRUE(AppendBanRecord(0, "Cheater"));
  const std::vector<std::string> env = {"ACSERVER_HOME=" + dir_.Path()};
  {
    testenv::TChildProcess list(UNBAN_BINARY, env, "/", {"--list"});
    EXPECT_EQ(list.WaitForExit(10000), 0);
    EXPECT_EQ(list.Output(), "\"p\" \"Cheater\"\n");
  }
  {
    testenv::TChildProcess lift(UNBAN_BINARY, env, "/");
    EXPECT_EQ(lift.WaitForExit(10000), 2) << "no identifier given";
  }
  std::filesystem::copy_file(UNBAN_BINARY, dir_.Path() + "acserver-unban");
  {
    // Without ACSERVER_HOME the tool looks beside itself, as the server does.
    testenv::TChildProcess lift(dir_.Path() + "acserver-unban", {}, "/", {"Cheater"});
    EXPECT_EQ(lift.WaitForExit(10000), 0) << lift.Output();
    EXPECT_EQ(lift.Output(), "lifted 1 record for \"Cheater\"\n");
  }
  EXPECT_EQ(IsBanned("Cheater"), BanLookup::NotBanned);
  testenv::TChildProcess again(dir_.Path() + "acserver-unban", {}, "/", {"Cheater"});
  EXPECT_EQ(again.WaitForExit(10000), 1);
}

}  // namespace
