// Log rotation at start-up and the two writers.
#include "log/logs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "base/limits.h"
#include "log/log_limit.h"
#include "platform/console.h"
#include "support/test_env.h"

namespace {

class Logs : public ::testing::Test {
 protected:
  void SetUp() override { testenv::ResetProcessFacilities(dir_.Path()); }
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

TEST_F(Logs, ControlBytesNeverReachALogOrTheConsoleAndFieldsAreCut) {
  ASSERT_TRUE(RotateLogs());
  platform::TConsoleCapture capture;
  const std::string name = "Eve\r01/01/26 | 00:00:00 : banned\x1b[2J\x7f\tX";
  WriteLog("ERROR: cannot find user with nickname : \"" + name + "\"");
  WriteLightLog("Connected: " + name);
  const std::string clean = "Eve01/01/26 | 00:00:00 : banned[2JX";
  for (const char* file : {"zelk_logs.txt", "zelk_light_logs.txt"}) {
    const std::string text = testenv::ReadFile(LogPath(file));
    EXPECT_EQ(testenv::CountOf(text, "\r"), 1) << file << ": only the line end";
    EXPECT_NE(text.find(clean), std::string::npos) << text;
  }
  for (const std::string& line : capture.Lines()) {
    EXPECT_EQ(line.find_first_of("\r\x1b\x7f\t"), std::string::npos) << line;
  }
  EXPECT_EQ(LogField(std::string(100, 'n') + "\n"), std::string(kLogFieldChars, 'n'));
  EXPECT_EQ(LogField("a\x01" "b"), "ab");
}

TEST(LogLimit, TwentyLinesPerAddressAMinuteThenTheCountOnce) {
  using std::chrono::seconds;
  TLogLimit limit(kLimitedLogLinesPerMinute, kLogLimitWindow);
  const TLogLimit::TimePoint t0{};
  int admitted = 0;
  for (int i = 0; i < 100; ++i) admitted += limit.Admit("10.0.0.1", t0 + seconds(i / 10)) ? 1 : 0;
  EXPECT_EQ(admitted, kLimitedLogLinesPerMinute);
  EXPECT_TRUE(limit.Admit("10.0.0.2", t0 + seconds(30))) << "another address has its own window";
  EXPECT_TRUE(limit.TakeEnded(t0 + seconds(59)).empty()) << "the window is still open";

  const auto ended = limit.TakeEnded(t0 + seconds(60));
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ended[0].Address, "10.0.0.1");
  EXPECT_EQ(ended[0].Lines, 100 - kLimitedLogLinesPerMinute);
  EXPECT_TRUE(limit.Admit("10.0.0.1", t0 + seconds(61))) << "a new window";
  EXPECT_TRUE(limit.TakeEnded(t0 + seconds(200)).empty()) << "windows without lines left out end silently";

  // A window that ends at the next line of its address hands its count over too.
  for (int i = 0; i < 25; ++i) limit.Admit("10.0.0.3", t0 + seconds(300));
  EXPECT_TRUE(limit.Admit("10.0.0.3", t0 + seconds(360)));
  const auto late = limit.TakeEnded(t0 + seconds(361));
  ASSERT_EQ(late.size(), 1u);
  EXPECT_EQ(late[0].Lines, 5);
}

TEST_F(Logs, AFullLogPastItsLimitIsArchivedAndOnlyTheNewestArchivesKept) {
  ASSERT_TRUE(RotateLogs());
  // Twenty-five archives, numbered against their age: number 2 is the newest.
  const auto now = std::filesystem::file_time_type::clock::now();
  for (int n = 2; n <= 26; ++n) {
    testenv::WriteFile(LogPath("zelk_logs" + std::to_string(n) + ".txt"), std::to_string(n));
    std::filesystem::last_write_time(LogPath("zelk_logs" + std::to_string(n) + ".txt"),
                                     now - std::chrono::hours(n));
  }
  // A sparse file exactly at the limit: the next line passes it.
  std::filesystem::resize_file(LogPath("zelk_logs.txt"), kMaxLogBytes);
  platform::TConsoleCapture capture;
  WriteLog("one line too many");

  EXPECT_GT(std::filesystem::file_size(LogPath("zelk_logs27.txt")), static_cast<uintmax_t>(kMaxLogBytes))
      << "the old log, with the line that passed the limit";
  const std::string fresh = testenv::ReadFile(LogPath("zelk_logs.txt"));
  EXPECT_NE(fresh.find("The full log passed 64 MiB and was archived as logs/zelk_logs27.txt\r\n"), std::string::npos)
      << fresh;
  for (int n = 2; n <= 27; ++n) {
    EXPECT_EQ(Exists("zelk_logs" + std::to_string(n) + ".txt"), n <= 20 || n == 27) << n;
  }
  EXPECT_TRUE(capture.Contains("Removed 6 old full-log archives (the newest 20 are kept)"));
}

TEST_F(Logs, ShortLogPastItsLimitIsArchivedAndTheFullLogIsLeftAlone) {
  std::filesystem::create_directories(LogPath(""));
  testenv::WriteFile(LogPath("zelk_light_logs.txt"), "");
  std::filesystem::resize_file(LogPath("zelk_light_logs.txt"), kMaxLogBytes);
  WriteLightLog("one line too many");

  EXPECT_GT(std::filesystem::file_size(LogPath("zelk_light_logs2.txt")), static_cast<uintmax_t>(kMaxLogBytes));
  EXPECT_NE(testenv::ReadFile(LogPath("zelk_light_logs.txt"))
                .find("The short log passed 64 MiB and was archived as logs/zelk_light_logs2.txt"),
            std::string::npos);
  EXPECT_FALSE(Exists("zelk_logs2.txt"));
}

TEST_F(Logs, TheLogJustArchivedIsKeptThoughOlderArchivesCarryLaterTimes) {
  // Twenty archives written "in the future" (a clock set back since), then
  // restarts quicker than the file clock's tick: the archive each start
  // makes is the newest and must never be the one removed.
  std::filesystem::create_directory(dir_.Path() + "logs");
  const auto later = std::filesystem::file_time_type::clock::now() + std::chrono::hours(1);
  for (int n = 2; n <= 21; ++n) {
    testenv::WriteFile(LogPath("zelk_logs" + std::to_string(n) + ".txt"), "old");
    std::filesystem::last_write_time(LogPath("zelk_logs" + std::to_string(n) + ".txt"), later);
  }
  for (const char* run : {"run 1", "run 2", "run 3"}) {
    testenv::WriteFile(LogPath("zelk_logs.txt"), run);
    ASSERT_TRUE(RotateLogs());
  }
  std::vector<std::string> kept;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.Path() + "logs")) {
    const std::string text = testenv::ReadFile(entry.path().string());
    if (text.rfind("run ", 0) == 0) kept.push_back(text);
  }
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(kept, (std::vector<std::string>{"run 1", "run 2", "run 3"}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path() + "logs"), {}), 22)
      << "twenty archives and the two logs";
}

}  // namespace
