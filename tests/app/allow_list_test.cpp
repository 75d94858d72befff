// The allow-list file: which lines it accepts and what loading prints.
#include "app/allow_list.h"

#include <gtest/gtest.h>

#include "platform/console.h"
#include "support/test_env.h"

namespace {

class AllowListFile : public ::testing::Test {
 protected:
  void SetUp() override { testenv::ResetProcessFacilities(dir_.Path()); }
  void Write(const std::string& text) { testenv::WriteFile(dir_.Path() + "allow_connections.txt", text); }
  testenv::TTempDir dir_;
};

TEST_F(AllowListFile, KeepsWholeLinesWithTwoOrFourQuotesBetweenTheBanners) {
  Write("; \"10.0.0.1\"\r\n\r\n\"10.0.0.2\" remark\r\n\"10.0.0.3\" \"Bob\"\n\"10.0.0.4\" \"\n"
        "\"10.0.0.5\" \"Ann\" \"\n\"1\" \"2\" \"3\"\n \"10.0.0.6\"");
  platform::TConsoleCapture console;
  const auto list = ReadAllowListFile();
  EXPECT_EQ(list, (std::vector<std::string>{"\"10.0.0.2\" remark", "\"10.0.0.3\" \"Bob\"", " \"10.0.0.6\""}));
  EXPECT_EQ(console.Lines(), (std::vector<std::string>{
                                 "===========Loading paramtreas from allow_connections.txt===========",
                                 "Line loaded: \"10.0.0.2\" remark", "Line loaded: \"10.0.0.3\" \"Bob\"",
                                 "Line loaded:  \"10.0.0.6\"", std::string(68, '=')}));
}

TEST_F(AllowListFile, MissingFileGivesAnEmptyListSilentlyAndReloadDropsRemovedLines) {
  Write("\"10.0.0.1\"\n\"10.0.0.2\"\n");
  EXPECT_EQ(ReadAllowListFile().size(), 2u);
  Write("\"10.0.0.2\"\n");
  EXPECT_EQ(ReadAllowListFile(), std::vector<std::string>{"\"10.0.0.2\""});
  std::remove((dir_.Path() + "allow_connections.txt").c_str());
  platform::TConsoleCapture console;
  EXPECT_TRUE(ReadAllowListFile().empty());
  EXPECT_TRUE(console.Lines().empty());
}

}  // namespace
