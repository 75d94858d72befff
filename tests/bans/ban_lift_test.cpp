// Lifting a ban while the server runs: the admin's tool and the server's
// maintenance share a lock, so neither change is lost.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "base/limits.h"
#include "bans/ban_base.h"
#include "platform/file_lock.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace {

class BanLift : public ::testing::Test {
 protected:
  void SetUp() override { testenv::ResetProcessFacilities(dir_.Path()); }
  std::string Base() const { return testenv::ReadFile(BanBasePath()); }
  testenv::TTempDir dir_;
  TBanFile file_;
};

TEST_F(BanLift, RemovesEveryRecordOfTheIdentifierOnly) {
  ASSERT_TRUE(file_.AppendBanRecord(30, "A"));
  ASSERT_TRUE(file_.AppendBanRecord(0, "B"));
  ASSERT_TRUE(file_.AppendBanRecord(5, "A"));
  const LiftResult lifted = file_.Lift("A");
  EXPECT_EQ(lifted.Removed, 2);
  EXPECT_TRUE(lifted.Error.empty());
  const std::string base = Base();
  EXPECT_EQ(base.substr(0, 11), ";ATTENTION!") << "the header stays";
  EXPECT_NE(base.find("\"p\" \"B\"\r\n"), std::string::npos);
  EXPECT_EQ(base.find("\"A\""), std::string::npos);
  EXPECT_EQ(file_.IsBanned("A"), BanLookup::NotBanned);
  EXPECT_EQ(file_.Lift("a").Removed, 0) << "identifiers are case-sensitive";
}

TEST_F(BanLift, MaintenanceWaitsForTheToolAndKeepsItsChange) {
  ASSERT_TRUE(file_.AppendBanRecord(10, "Keep"));
  ASSERT_TRUE(file_.AppendBanRecord(10, "Lift"));
  std::string error;
  // The tool holds the lock while it edits; the server's maintenance arrives
  // meanwhile and must wait, then count down what the tool left.
  auto toolLock = platform::TFileLock::Acquire(BanBaseLockPath(), &error);
  ASSERT_TRUE(toolLock) << error;
  std::atomic<bool> maintained{false};
  std::thread maintenance([&] {
    file_.Maintain();
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
  ASSERT_TRUE(file_.AppendBanRecord(0, "Cheater"));
  ASSERT_TRUE(file_.AppendBanRecord(30, "A"));
  const std::vector<std::string> env = {"ACSERVER_HOME=" + dir_.Path()};
  {
    testenv::TChildProcess list(UNBAN_BINARY, env, "/", {"--list"});
    EXPECT_EQ(list.WaitForExit(10000), 0);
    EXPECT_EQ(list.Output(),
              "IDENTIFIER  TIME LEFT\n"
              "Cheater     for ever\n"
              "A           30 minutes left\n");
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
    EXPECT_EQ(lift.Output().rfind("lifted 1 record for \"Cheater\"\n", 0), 0u) << lift.Output();
  }
  EXPECT_EQ(file_.IsBanned("Cheater"), BanLookup::NotBanned);
  testenv::TChildProcess again(dir_.Path() + "acserver-unban", {}, "/", {"Cheater"});
  EXPECT_EQ(again.WaitForExit(10000), 1);
}

enum class Stream { Out, Err };

struct TToolRun {
  int Status = -1;
  std::string Text;
};

// Runs the tool with only one of its output streams kept.
TToolRun RunUnban(const std::vector<std::string>& env, std::vector<std::string> args, Stream keep) {
  args.insert(args.begin(), {"-c", keep == Stream::Out ? "exec \"$0\" \"$@\" 2>/dev/null" : "exec \"$0\" \"$@\" 2>&1 >/dev/null",
                             UNBAN_BINARY});
  testenv::TChildProcess child("/bin/sh", env, "/", args);
  TToolRun run;
  run.Status = child.WaitForExit(10000);
  run.Text = child.Output();
  return run;
}

TEST_F(BanLift, TheToolFollowsCommandLineConventionsAndLogsWhoLifted) {
  const std::vector<std::string> env = {"ACSERVER_HOME=" + dir_.Path()};
  for (const std::string help : {"--help", "-h"}) {
    const TToolRun run = RunUnban(env, {help}, Stream::Out);
    EXPECT_EQ(run.Status, 0) << help;
    EXPECT_EQ(run.Text.rfind("usage: acserver-unban", 0), 0u) << run.Text;
    EXPECT_NE(run.Text.find("Exit status: 0 done, 1 no such ban, 2 usage, file or database error."), std::string::npos);
  }
  const TToolRun version = RunUnban(env, {"--version"}, Stream::Out);
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Text, std::string("acserver-unban ") + kVersionText + "\n");

  ASSERT_TRUE(file_.AppendBanRecord(0, "Cheater"));
  const TToolRun unknown = RunUnban(env, {"--bogus"}, Stream::Err);
  EXPECT_EQ(unknown.Status, 2);
  EXPECT_EQ(unknown.Text.rfind("acserver-unban: unknown option '--bogus'\nusage: ", 0), 0u) << unknown.Text;

  // The server keeps its full log; the tool appends the lift to it.
  std::filesystem::create_directory(dir_.Path() + "logs");
  testenv::WriteFile(dir_.Path() + "logs/zelk_logs.txt", "");
  const TToolRun lift = RunUnban(env, {"--reason", "false positive\x1b[2J", "Cheater"}, Stream::Out);
  EXPECT_EQ(lift.Status, 0);
  EXPECT_NE(lift.Text.find("logged in " + dir_.Path() + "logs/zelk_logs.txt\n"), std::string::npos) << lift.Text;
  const passwd* user = ::getpwuid(::getuid());
  const std::string userName = user != nullptr ? user->pw_name : "uid " + std::to_string(::getuid());
  const std::string log = testenv::ReadFile(dir_.Path() + "logs/zelk_logs.txt");
  EXPECT_NE(log.find(" : Ban of ID Cheater lifted with acserver-unban by " + userName + ": false positive[2J\r\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(file_.IsBanned("Cheater"), BanLookup::NotBanned);
}

}  // namespace
