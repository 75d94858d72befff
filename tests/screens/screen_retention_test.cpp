#include "screens/screen_retention.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;

class ScreenRetention : public ::testing::Test {
 protected:
  // A screenshot of the given size written ageDays ago (plus minutes, to order files of a day).
  std::string Shot(const std::string& address, const std::string& name, size_t bytes, double ageDays) {
    fs::create_directories(dir_.Path() + address);
    const std::string relative = address + "/^" + name + "^IP^" + address + "^ID^x.jpg";
    testenv::WriteFile(dir_.Path() + relative, std::string(bytes, 'j'));
    const auto age = std::chrono::duration_cast<fs::file_time_type::duration>(std::chrono::duration<double>(ageDays * 86400));
    fs::last_write_time(dir_.Path() + relative, fs::file_time_type::clock::now() - age);
    return relative;
  }
  bool Exists(const std::string& relative) { return fs::exists(dir_.Path() + relative); }
  int64_t Now() { return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count(); }

  testenv::TTempDir dir_;
};

TEST_F(ScreenRetention, OldAndOverSizeGoOldestFirstButEvidenceAndOtherFilesStay) {
  const std::string ancient = Shot("10.0.0.1", "a", 100, 30);
  const std::string evidence = Shot("10.0.0.1", "b", 100, 20);
  const std::string older = Shot("10.0.0.2", "c", 400, 3);
  const std::string newer = Shot("10.0.0.2", "d", 400, 1);
  const std::string newest = Shot("10.0.0.1", "e", 400, 0.1);
  testenv::WriteFile(dir_.Path() + "10.0.0.1/notes.txt", std::string(5000, 'n'));  // not a screenshot

  const TScreenRetention bounds{14, 900};
  const TScreenPrune pass = PruneScreens(dir_.Path(), bounds, {evidence}, Now());

  EXPECT_FALSE(Exists(ancient));
  EXPECT_TRUE(Exists(evidence)) << "evidence of a ban stays whatever its age";
  EXPECT_FALSE(Exists(older)) << "the oldest go until the rest fit";
  EXPECT_TRUE(Exists(newer));
  EXPECT_TRUE(Exists(newest));
  EXPECT_TRUE(Exists("10.0.0.1/notes.txt"));
  EXPECT_EQ(pass.Removed, 2);
  EXPECT_EQ(pass.FreedBytes, 500);
  EXPECT_EQ(pass.KeptAsEvidence, 1);
  EXPECT_EQ(ScreenPruneLine(pass, {14, 2048LL * 1048576}),
            "Screenshots: removed 2 files (0.0 MB freed) older than 14 days or over 2048 MB in all; kept 1 that are "
            "evidence of bans");

  const TScreenPrune again = PruneScreens(dir_.Path(), bounds, {evidence}, Now());
  EXPECT_EQ(again.Removed, 0);
  EXPECT_EQ(ScreenPruneLine(again, bounds), "") << "a pass that freed nothing says nothing";
}

}  // namespace
