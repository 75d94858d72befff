// The evidence of a ban: only that client's screenshots, from the 30 minutes
// before the ban, newest first, at most five.
#include "screens/screen_evidence.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files.h"
#include "support/test_env.h"

namespace {

constexpr int64_t kAt = 1767225600;

TEST(ScreenEvidence, PicksThatClientsNewestShotsInTheWindow) {
  testenv::TTempDir root;
  const std::string own = "^IP^10.0.0.7^ID^STEAM_0.1.5.jpg";  // the identifier made file-name safe
  std::filesystem::create_directories(root.Path() + "10.0.0.7");
  std::filesystem::create_directories(root.Path() + "10.0.0.8");
  const auto shot = [&](const std::string& name, int64_t age) {
    testenv::WriteFile(root.Path() + name, "jpeg");
    ASSERT_TRUE(platform::SetModifiedTime(root.Path() + name, kAt - age, 0));
  };
  for (int i = 1; i <= 6; ++i) shot("10.0.0.7/^d^t" + std::to_string(i) + own, 100 * i);
  shot("10.0.0.7/^d^old" + own, 30 * 60 + 1);
  shot("10.0.0.7/^d^edge" + own, 30 * 60);
  shot("10.0.0.7/^d^later" + own, -5);
  shot("10.0.0.7/^d^t^IP^10.0.0.7^ID^XSTEAM_0.1.5.jpg", 10);
  shot("10.0.0.7/^d^t^IP^10.0.0.7^ID^STEAM_0.1.5.png", 10);
  shot("10.0.0.8/^d^t^IP^10.0.0.8^ID^STEAM_0.1.5.jpg", 10);

  std::vector<std::string> paths;
  ASSERT_TRUE(FindScreenEvidence(root.Path(), "10.0.0.7", "STEAM_0:1:5", kAt, paths));
  std::vector<std::string> expected;
  for (int i = 1; i <= 5; ++i) expected.push_back("10.0.0.7/^d^t" + std::to_string(i) + own);
  EXPECT_EQ(paths, expected);

  shot("10.0.0.7/^d^start" + own, 600 + 30 * 60);
  shot("10.0.0.7/^d^before" + own, 600 + 30 * 60 + 1);
  ASSERT_TRUE(FindScreenEvidence(root.Path(), "10.0.0.7", "STEAM_0:1:5", kAt - 600, paths));
  EXPECT_EQ(paths, (std::vector<std::string>{"10.0.0.7/^d^t6" + own, "10.0.0.7/^d^edge" + own,
                                             "10.0.0.7/^d^old" + own, "10.0.0.7/^d^start" + own}))
      << "both ends of the window count";

  for (const char* address : {"10.0.0.9", "..", "10.0.0.7/../10.0.0.8", ""}) {
    EXPECT_TRUE(FindScreenEvidence(root.Path(), address, "STEAM_0:1:5", kAt, paths));
    EXPECT_TRUE(paths.empty()) << address;
  }
}

}  // namespace
