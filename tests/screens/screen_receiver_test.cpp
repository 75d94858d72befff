// The handling of one screenshot datagram: acceptance, replies, the saved file,
// its name and directory, and what a failure leaves behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <regex>

#include "app/settings.h"
#include "platform/clock_text.h"
#include "platform/console.h"
#include "registry/tables.h"
#include "screens/screen_commands.h"
#include "screens/screen_server.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;

class ScreenReceiving : public ::testing::Test {
 protected:
  void SetUp() override {
    testenv::ResetProcessState(dir_.Path());
    savedShape_ = platform::CurrentShape();
  }
  void TearDown() override {
    platform::SetShapeForTesting(savedShape_);
    ResetClients();
  }

  // Opens a transfer the way a client does, from the client's own address.
  void Start(const std::string& name, long size, const std::string& peer = "127.0.0.1") {
    CommandCall call;
    call.Arguments = {name, std::to_string(size)};
    call.PeerAddress = peer;
    ScreenCmd(call);
    ASSERT_EQ(call.Reply(), "rpl:true");
  }
  // The files saved for one sender address, by name.
  std::vector<std::string> Saved(const std::string& address) const {
    std::vector<std::string> names;
    const fs::path dir = dir_.Path() + "zelk_screens/" + address;
    if (!fs::exists(dir)) return names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    return names;
  }
  std::string SavedContent(const std::string& address) const {
    auto names = Saved(address);
    return names.size() == 1 ? testenv::ReadFile(dir_.Path() + "zelk_screens/" + address + "/" + names[0])
                             : "<" + std::to_string(names.size()) + " files>";
  }
  std::string FullLog() const { return testenv::ReadFile(dir_.Path() + "logs/zelk_logs.txt"); }

  testenv::TTempDir dir_;
  platform::TimeShape savedShape_;
};

std::string Bytes(size_t n, char first) {
  std::string bytes(n, '\0');
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(first + i);
  return bytes;
}

TEST_F(ScreenReceiving, SeventyFiveBytesInThreePiecesAreSavedBeforeTheLastOk) {
  int slot = AddClient("Bob", "ABC123", "127.0.0.1");
  Start("Bob", 75);
  const std::string file = Bytes(30, 'a') + Bytes(30, 'A') + Bytes(15, '0');
  platform::TConsoleCapture capture;
  EXPECT_EQ(HandleScreenDatagram(file.substr(0, 30), "127.0.0.1"), "ok");
  EXPECT_EQ(HandleScreenDatagram(file.substr(30, 30), "127.0.0.1"), "ok");
  EXPECT_TRUE(Saved("127.0.0.1").empty());
  EXPECT_EQ(HandleScreenDatagram(file.substr(60), "127.0.0.1"), "ok");
  EXPECT_EQ(SavedContent("127.0.0.1"), file);
  EXPECT_TRUE(capture.Contains("Screen saved"));
  std::lock_guard<std::mutex> guard(Client(slot).Guard);
  EXPECT_FALSE(Client(slot).ScreenPending);
  EXPECT_EQ(Client(slot).ScreenSize, 0);
  EXPECT_TRUE(Client(slot).ScreenData.Bytes.empty());
}

TEST_F(ScreenReceiving, WrongLengthIsResentAndTheShortPieceFitsAnywhere) {
  int slot = AddClient("Bob", "ABC123", "127.0.0.1");
  Start("Bob", 75);
  platform::TConsoleCapture capture;
  EXPECT_EQ(HandleScreenDatagram(std::string(20, 'x'), "127.0.0.1"), "resend");
  EXPECT_TRUE(capture.Contains("aaa"));
  EXPECT_EQ(HandleScreenDatagram(std::string(15, 'x'), "127.0.0.1"), "ok") << "75 mod 30 is 15, early or not";
  std::lock_guard<std::mutex> guard(Client(slot).Guard);
  EXPECT_EQ(Client(slot).ScreenData.Bytes.size(), 15u);
  EXPECT_TRUE(Client(slot).ScreenPending);
}

TEST_F(ScreenReceiving, ZeroLengthPiecesOfSixtyAndOfAnEmptyFile) {
  int slot = AddClient("Bob", "id", "127.0.0.1");
  Start("Bob", 60);
  EXPECT_EQ(HandleScreenDatagram("", "127.0.0.1"), "ok");
  {
    std::lock_guard<std::mutex> guard(Client(slot).Guard);
    EXPECT_TRUE(Client(slot).ScreenData.Bytes.empty());
    EXPECT_TRUE(Client(slot).ScreenPending);
  }
  RemoveClient(slot);

  AddClient("Ann", "id", "127.0.0.2");
  Start("Ann", 0, "127.0.0.2");
  EXPECT_EQ(HandleScreenDatagram("", "127.0.0.2"), "ok");
  ASSERT_EQ(Saved("127.0.0.2").size(), 1u);
  EXPECT_EQ(SavedContent("127.0.0.2"), "");
}

TEST_F(ScreenReceiving, NoTransferFromTheAddressGetsTheEmptyReply) {
  AddClient("Bob", "id", "127.0.0.1");  // registered, but idle
  platform::TConsoleCapture capture;
  EXPECT_EQ(HandleScreenDatagram(std::string(30, 'x'), "127.0.0.1"), "");
  EXPECT_EQ(HandleScreenDatagram(std::string(30, 'x'), "127.0.0.9"), "");
  EXPECT_TRUE(capture.Lines().empty());
}

TEST_F(ScreenReceiving, TwoSlotsAtOneAddressFeedTheLowerPendingOne) {
  int first = AddClient("Bob", "id1", "127.0.0.1");
  int second = AddClient("Ann", "id2", "127.0.0.1");
  Start("Ann", 90);
  {
    // A second pending slot at the same address can only come from a start
    // sent over a connection from elsewhere.
    CommandCall call;
    call.Arguments = {"Bob", "90"};
    call.PeerAddress = "127.0.0.5";
    ScreenCmd(call);
    ASSERT_EQ(call.Reply(), "rpl:true");
  }
  EXPECT_EQ(HandleScreenDatagram(std::string(30, 'x'), "127.0.0.1"), "ok");
  std::scoped_lock guard(Client(first).Guard, Client(second).Guard);
  EXPECT_EQ(Client(first).ScreenData.Bytes.size(), 30u);
  EXPECT_TRUE(Client(second).ScreenData.Bytes.empty());
}

TEST_F(ScreenReceiving, FileNameIsStampedAndTheIdentifierCannotLeaveItsDirectory) {
  platform::TimeShape shape;
  shape.DateFormat = "%m/%d/%Y";
  shape.Separator = ":";
  platform::SetShapeForTesting(shape);
  AddClient("Bob", std::string("../../x/y\\z\x01\n:*?\"<>|", 20), "127.0.0.1");
  Start("Bob", 5);
  EXPECT_EQ(HandleScreenDatagram("12345", "127.0.0.1"), "ok");
  auto names = Saved("127.0.0.1");
  ASSERT_EQ(names.size(), 1u);
  // "^12.06.2026^15.59.56^IP^127.0.0.1^ID^......x.y.z.........jpg"
  EXPECT_TRUE(std::regex_match(names[0], std::regex(R"(\^\d\d\.\d\d\.\d{4}\^\d\d\.\d\d\.\d\d\^IP\^127\.0\.0\.1\^ID\^\.{6}x\.y\.z\.{7}\.jpg)")))
      << names[0];
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path() + "zelk_screens"), fs::directory_iterator()), 1)
      << "nothing was written beside the address directory";

  shape.DateFormat = "";
  platform::SetShapeForTesting(shape);
  Start("Bob", 0);
  EXPECT_EQ(HandleScreenDatagram("", "127.0.0.1"), "ok");
  bool unknownDate = false;
  for (const auto& name : Saved("127.0.0.1")) unknownDate |= name.rfind("^unknown_date^", 0) == 0;
  EXPECT_TRUE(unknownDate);
}

TEST_F(ScreenReceiving, ScreenDirIsUsedAsGivenAndMadeOneLevelAtATime) {
  Settings.ScreenDir = dir_.Path() + "shots/";
  AddClient("Bob", "id", "127.0.0.1");
  Start("Bob", 3);
  EXPECT_EQ(HandleScreenDatagram("abc", "127.0.0.1"), "ok");
  ASSERT_TRUE(fs::is_directory(dir_.Path() + "shots/127.0.0.1"));
  auto it = fs::directory_iterator(dir_.Path() + "shots/127.0.0.1");
  EXPECT_EQ(testenv::ReadFile(it->path().string()), "abc");
  EXPECT_FALSE(fs::exists(dir_.Path() + "zelk_screens"));

  Settings.ScreenDir = dir_.Path() + "deep/er/";  // two missing levels: only one is made
  Start("Bob", 3);
  EXPECT_EQ(HandleScreenDatagram("abc", "127.0.0.1"), "ok");
  EXPECT_NE(FullLog().find("Error [screen receiving module]: error code 15"), std::string::npos);
}

TEST_F(ScreenReceiving, FailedSaveLogsCode15AndTheNextPieceEndsTheTransfer) {
  fs::create_directory(dir_.Path() + "zelk_screens");
  testenv::WriteFile(dir_.Path() + "zelk_screens/127.0.0.1", "a file where the directory should be");
  int slot = AddClient("Bob", "id", "127.0.0.1");
  Start("Bob", 60);
  EXPECT_EQ(HandleScreenDatagram(std::string(30, 'x'), "127.0.0.1"), "ok");
  EXPECT_EQ(HandleScreenDatagram(std::string(30, 'y'), "127.0.0.1"), "ok") << "the reply survives the failure";
  EXPECT_NE(FullLog().find("Error [screen receiving module]: error code 15\r\n"), std::string::npos);
  {
    std::lock_guard<std::mutex> guard(Client(slot).Guard);
    EXPECT_TRUE(Client(slot).ScreenPending) << "the bytes stay for a later attempt";
    EXPECT_EQ(Client(slot).ScreenData.Bytes.size(), 60u);
  }
  // A zero-length piece tries the save again; a 30-byte one would overrun.
  fs::remove(dir_.Path() + "zelk_screens/127.0.0.1");
  EXPECT_EQ(HandleScreenDatagram("", "127.0.0.1"), "ok");
  EXPECT_EQ(SavedContent("127.0.0.1"), std::string(30, 'x') + std::string(30, 'y'));

  // 40 bytes end with a piece of 10: a second full piece would run past the end.
  Start("Bob", 40);
  EXPECT_EQ(HandleScreenDatagram(std::string(30, 'x'), "127.0.0.1"), "ok");
  EXPECT_EQ(HandleScreenDatagram(std::string(30, 'z'), "127.0.0.1"), "");
  EXPECT_NE(FullLog().find("127.0.0.1"), std::string::npos) << "the overrun names the sender";
  std::lock_guard<std::mutex> guard(Client(slot).Guard);
  EXPECT_FALSE(Client(slot).ScreenPending);
  EXPECT_TRUE(Client(slot).ScreenData.Bytes.empty());
}

TEST(ScreenFileNames, OnlyTheNineReservedCharactersChange) {
  EXPECT_EQ(MakeFileNameSafe("a\\b/c:d*e?f\"g<h>i|j"), "a.b.c.d.e.f.g.h.i.j");
  EXPECT_EQ(MakeFileNameSafe("15:59:56 PM"), "15.59.56 PM");
  EXPECT_EQ(MakeFileNameSafe(std::string("x\0y", 3)), std::string("x\0y", 3));
}

}  // namespace
