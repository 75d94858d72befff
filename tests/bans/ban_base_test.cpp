// The ban base file: lookups, appends, the minute's count-down and its safety.
#include "bans/ban_base.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "base/limits.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/stop_signal.h"
#include "support/test_env.h"

namespace {

class BanBaseTest : public ::testing::Test {
 protected:
  void SetUp() override { testenv::ResetProcessFacilities(dir_.Path()); }
  std::string BasePath() const { return dir_.Path() + "zelk_bans.txt"; }
  std::string FullLog() const { return testenv::ReadFile(dir_.Path() + "logs/zelk_logs.txt"); }
  testenv::TTempDir dir_;
  TBanFile file_;
};

TEST_F(BanBaseTest, LookupSkipsCommentsAndMatchesExactly) {
  EXPECT_EQ(file_.IsBanned("X"), BanLookup::NotBanned) << "no base";
  ASSERT_TRUE(file_.AppendBanRecord(5, "Abc"));
  testenv::WriteFile(BasePath(), testenv::ReadFile(BasePath()) + "\r\n; \"p\" \"Hidden\"\n");
  EXPECT_EQ(file_.IsBanned("Abc"), BanLookup::Banned);
  EXPECT_EQ(file_.IsBanned("abc"), BanLookup::NotBanned);
  EXPECT_EQ(file_.IsBanned("Hidden"), BanLookup::NotBanned);
  EXPECT_EQ(file_.IsBanned(""), BanLookup::NotBanned);
}

// Whatever an identifier holds, a ban writes its own line and no other: a
// hostile one is refused by every writer, and a client's, once neutralised,
// always keeps the rule.
TEST_F(BanBaseTest, HostileIdentifiersNeverAddALine) {
  const std::string hostile[] = {"a\"b",        "x\" \"p",          "x\r\n\"p\" \"victim", "x\ny", "x\r",
                                 "tab\there",  "del\x7F",        "",                    std::string(65, 'i')};
  ASSERT_TRUE(file_.AppendBanRecord(0, "first"));
  const std::string before = testenv::ReadFile(BasePath());
  for (const std::string& identifier : hostile) {
    EXPECT_NE(BanIdentifierProblem(identifier), "") << identifier;
    EXPECT_FALSE(file_.AppendBanRecord(0, identifier)) << identifier;
    std::string error;
    EXPECT_FALSE(AppendBanRecords({{5, "fine"}, {0, identifier}}, &error)) << identifier;
    EXPECT_EQ(testenv::ReadFile(BasePath()), before) << "nothing written for " << identifier;
  }
  int added = 0;
  for (const std::string& identifier : hostile) {
    const std::string client = ClientBanIdentifier(identifier);
    if (client.empty()) continue;  // the connect refuses an identifier of control bytes only
    EXPECT_EQ(BanIdentifierProblem(client), "") << identifier;
    ASSERT_TRUE(file_.AppendBanRecord(0, client)) << identifier;
    ++added;
    EXPECT_EQ(file_.IsBanned(client), BanLookup::Banned);
  }
  EXPECT_EQ(file_.IsBanned("victim"), BanLookup::NotBanned);
  EXPECT_EQ(file_.IsBanned("p"), BanLookup::NotBanned);
  std::vector<std::string> records;
  ASSERT_TRUE(ReadBanRecords(records, nullptr));
  EXPECT_EQ(records.size(), static_cast<size_t>(1 + added)) << testenv::ReadFile(BasePath());
}

TEST_F(BanBaseTest, UnreadableBaseFailsTheLookupWithALogLine) {
  std::filesystem::create_directory(BasePath());
  EXPECT_EQ(file_.IsBanned("X"), BanLookup::Failed);
  EXPECT_FALSE(file_.AppendBanRecord(0, "X"));
  file_.Maintain();
  const std::string log = FullLog();
  EXPECT_NE(log.find("ERROR: cannot read the ban base " + BasePath()), std::string::npos);
  EXPECT_NE(log.find("ERROR: cannot write the ban base " + BasePath()), std::string::npos);
}

TEST_F(BanBaseTest, MaintenanceCountsDownAndDrops) {
  testenv::WriteFile(BasePath(),
                     ";head\r\n\"5\" \"X\"\r\n\"1\" \"Y\"\n\"p\" \"Z\" \"third\" tail\r\n\"3\" \"W\" tail\r\n"
                     "no quotes here\r\n\r\n\"abc\" \"V\"\r\n\"-4\" \"N\"\r\n");
  file_.Maintain();
  EXPECT_EQ(testenv::ReadFile(BasePath()), ";head\r\n\"4\" \"X\"\r\n\"p\" \"Z\" \"third\" tail\r\n\"2\" \"W\"\r\n");
  EXPECT_EQ(testenv::CountOf(FullLog(), "Unknown ban line format.\r\n"), 2)
      << "once for each line without a known duration";
  file_.Maintain();
  file_.Maintain();
  EXPECT_EQ(testenv::ReadFile(BasePath()), ";head\r\n\"2\" \"X\"\r\n\"p\" \"Z\" \"third\" tail\r\n");
}

}  // namespace

namespace {

using BanBaseFaults = BanBaseTest;

TEST_F(BanBaseFaults, AFragmentWithoutItsLineEndIsEndedBeforeTheNextRecord) {
  testenv::WriteFile(BasePath(), ";head\r\n\"30\" \"C");
  ASSERT_TRUE(file_.AppendBanRecord(30, "CH2"));
  EXPECT_EQ(testenv::ReadFile(BasePath()), ";head\r\n\"30\" \"C\r\n\"30\" \"CH2\"\r\n");
  EXPECT_EQ(file_.IsBanned("CH2"), BanLookup::Banned) << "the right identifier is banned";
  EXPECT_NE(FullLog().find("ended in a line without its line end"), std::string::npos);
}

// A disk that fills up: the record is whole or absent, the ban is enforced
// from memory meanwhile, and written once there is room.
TEST_F(BanBaseFaults, AFullDiskLosesNoBanAndLeavesNoFragment) {
  const std::string disk = dir_.Path() + "disk/";
  std::filesystem::create_directory(disk);
  if (std::system(("mount -t tmpfs -o size=64k tmpfs " + disk + " 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "no tmpfs can be mounted here (needs root and mount rights)";
  }
  struct TUnmount {
    std::string Path;
    ~TUnmount() { std::system(("umount " + Path).c_str()); }
  } unmount{disk};
  testenv::ResetProcessFacilities(disk);
  ASSERT_TRUE(file_.AppendBanRecord(30, "FIRST"));
  // A base that ends on a page boundary, so that the next record (at most 64
  // bytes of identifier) needs a block of its own.
  const std::string first = testenv::ReadFile(disk + "zelk_bans.txt");
  testenv::WriteFile(disk + "zelk_bans.txt", first.substr(0, first.size() - 14) + ";" +
                                                 std::string(4096 - first.size() - 3, 'x') + "\r\n" +
                                                 first.substr(first.size() - 14));
  const std::string whole = testenv::ReadFile(disk + "zelk_bans.txt");
  // Fill the disk to the last byte.
  {
    std::ofstream filler(disk + "filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), block.size())) {
    }
  }
  std::ofstream(disk + "filler", std::ios::binary | std::ios::app) << "x";
  EXPECT_FALSE(file_.AppendBanRecord(0, std::string(kIdentifierChars, 'L')));
  EXPECT_EQ(testenv::ReadFile(disk + "zelk_bans.txt"), whole) << "nothing of the unwritten record";
  std::string left;
  EXPECT_EQ(file_.IsBanned(std::string(kIdentifierChars, 'L'), &left), BanLookup::Banned) << "enforced from memory";
  EXPECT_EQ(left, "p");

  std::filesystem::remove(disk + "filler");
  file_.Maintain();
  EXPECT_EQ(testenv::ReadFile(disk + "zelk_bans.txt"), whole.substr(0, whole.size() - 14) + "\"29\" \"FIRST\"\r\n\"p\" \"" +
                                                           std::string(kIdentifierChars, 'L') + "\"\r\n");
  ASSERT_TRUE(file_.AppendBanRecord(5, "NEXT"));
  EXPECT_NE(testenv::ReadFile(disk + "zelk_bans.txt").find("\r\n\"5\" \"NEXT\"\r\n"), std::string::npos);
}

TEST_F(BanBaseFaults, AHeldLockFailsTheOperationWithinItsBoundAndAtAStop) {
  ASSERT_TRUE(file_.AppendBanRecord(0, "X"));
  std::string error;
  auto held = platform::TFileLock::Acquire(BasePath() + ".lock", &error);
  ASSERT_TRUE(held) << error;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(file_.IsBanned("X"), BanLookup::Failed) << "not waiting for ever";
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_NE(FullLog().find("held by another process for 2000 ms"), std::string::npos) << FullLog();

  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    platform::RequestStop();
  });
  std::vector<std::string> records;
  EXPECT_FALSE(ReadBanRecords(records, &error));
  EXPECT_NE(error.find("stopping"), std::string::npos) << error;
  stopper.join();
}

TEST_F(BanBaseFaults, LeftoversOfAnInterruptedRewriteGoAtStart) {
  testenv::WriteFile(BasePath() + ".tmp.123.0", "half");
  testenv::WriteFile(dir_.Path() + "zelk_bans_journal.txt.tmp.9.1", "half");
  testenv::WriteFile(dir_.Path() + "zelk_bans.txt.notes", "mine");
  RemoveBanBaseLeftovers();
  EXPECT_FALSE(std::filesystem::exists(BasePath() + ".tmp.123.0"));
  EXPECT_FALSE(std::filesystem::exists(dir_.Path() + "zelk_bans_journal.txt.tmp.9.1"));
  EXPECT_TRUE(std::filesystem::exists(dir_.Path() + "zelk_bans.txt.notes"));
}

}  // namespace
