// Log rotation at start-up and the two writers.
#include "log/logs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "platform/console.h"
#include "support/test_env.h"

namespace {

class Logs : public ::testing::Test {
 protected:
  void SetUp() override { testenv::ResetProcessState(dir_.Path()); }
  std::string LogPath(const std::string& name) const { return dir_.Path() + "logs/" + name; }
  bool Exists(const std::string& name) const { return std::filesystem::exists(LogPath(name)); }
  testenv::TTempDir dir_;
};

TEST_F(Logs, FirstStartCreatesTheDirectoryAndBothLogsEmpty) {
  ASSERT_TRUE(RotateLogs());
  EXPECT_EQ(testenv::ReadFile(LogPath("zelk_logs.txt")), "");
  EXPECT_EQ(testenv::ReadFile(LogPath("zelk_light_logs.txt")), "");
  EXPECT_FALSE(Exists("zelk_logs2.txt"));
}

TEST_F(Logs, RotationTakesTheSmallestFreeNumberFromTwo) {
  std::filesystem::create_directory(dir_.Path() + "logs");
  testenv::WriteFile(LogPath("zelk_logs.txt"), "old\r\n");
  testenv::WriteFile(LogPath("zelk_logs3.txt"), "three");
  testenv::WriteFile(LogPath("zelk_light_logs.txt"), "short");
  ASSERT_TRUE(RotateLogs());
  EXPECT_EQ(testenv::ReadFile(LogPath("zelk_logs2.txt")), "old\r\n") << "the gap at 2 is filled first";
  EXPECT_EQ(testenv::ReadFile(LogPath("zelk_logs3.txt")), "three");
  EXPECT_EQ(testenv::ReadFile(LogPath("zelk_logs.txt")), "");
  EXPECT_EQ(testenv::ReadFile(LogPath("zelk_light_logs.txt")), "") << "the short log is emptied, never archived";

  testenv::WriteFile(LogPath("zelk_logs.txt"), "again");
  ASSERT_TRUE(RotateLogs());
  EXPECT_EQ(testenv::ReadFile(LogPath("zelk_logs4.txt")), "again");
}

TEST_F(Logs, NoFullLogMeansNoArchive) {
  std::filesystem::create_directory(dir_.Path() + "logs");
  testenv::WriteFile(LogPath("zelk_logs2.txt"), "two");
  ASSERT_TRUE(RotateLogs());
  EXPECT_FALSE(Exists("zelk_logs3.txt"));
  EXPECT_EQ(testenv::ReadFile(LogPath("zelk_logs2.txt")), "two");
  EXPECT_TRUE(Exists("zelk_logs.txt"));
}

TEST_F(Logs, WritersStampLinesAndEchoThemOnTheConsole) {
  ASSERT_TRUE(RotateLogs());
  platform::TConsoleCapture capture;
  WriteLog("banned for 30 minutes : Bob");
  WriteLightLog("Connected: Bob");
  WriteLog("");
  const std::regex stamped(R"(\d\d/\d\d/\d\d \| \d\d:\d\d:\d\d : (.*))");
  auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "Anticheat log write:");
  EXPECT_TRUE(std::regex_match(lines[1], stamped)) << lines[1];
  EXPECT_EQ(lines[2], "Connected: Bob") << "the short log echoes the bare message";
  EXPECT_EQ(lines[3], "Anticheat log write:");

  std::string full = testenv::ReadFile(LogPath("zelk_logs.txt"));
  std::smatch match;
  ASSERT_TRUE(std::regex_match(full, match, std::regex(R"((.* : banned for 30 minutes : Bob)\r\n(.* : )\r\n)")))
      << full;
  EXPECT_TRUE(std::regex_match(testenv::ReadFile(LogPath("zelk_light_logs.txt")),
                               std::regex(R"(\d\d/\d\d/\d\d \| \d\d:\d\d:\d\d : Connected: Bob\r\n)")));
}

TEST_F(Logs, AWriteRecreatesADeletedFileAndADeletedDirectory) {
  ASSERT_TRUE(RotateLogs());
  std::filesystem::remove(LogPath("zelk_logs.txt"));
  WriteLog("one");
  EXPECT_NE(testenv::ReadFile(LogPath("zelk_logs.txt")).find(" : one\r\n"), std::string::npos);

  std::filesystem::remove_all(dir_.Path() + "logs");
  WriteLog("two");
  WriteLightLog("three");
  EXPECT_NE(testenv::ReadFile(LogPath("zelk_logs.txt")).find(" : two\r\n"), std::string::npos)
      << "a ban must not go unrecorded because logs/ was removed";
  EXPECT_NE(testenv::ReadFile(LogPath("zelk_light_logs.txt")).find(" : three\r\n"), std::string::npos);
}

TEST_F(Logs, AnUnwritableLogNeverFailsTheCaller) {
  ASSERT_TRUE(RotateLogs());
  std::filesystem::remove(LogPath("zelk_logs.txt"));
  std::filesystem::create_directory(LogPath("zelk_logs.txt"));  // a directory where the file should be
  platform::TConsoleCapture capture;
  WriteLog("still goes on");
  EXPECT_TRUE(capture.Contains("Anticheat log write:"));
}

}  // namespace
