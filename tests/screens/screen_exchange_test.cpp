// The screenshot exchange in-process: "<start_screen>" and "<check_screen>"
// with their replies and console lines, the handling of each datagram, the
// saved file with its name and directory, and what a failure leaves behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "base/limits.h"
#include "base/settings.h"
#include "channel/client_commands.h"
#include "platform/clock_text.h"
#include "platform/console.h"
#include "registry/busy_flag.h"
#include "registry/tables.h"
#include "supervision/server_state.h"
#include "channel/screen_commands.h"
#include "screens/screen_receiver.h"
#include "support/tables_peek.h"
#include "support/test_env.h"
#include "screens/screen_exchange_fixture.h"

namespace {

using namespace screentest;

TEST_F(ScreenExchange, StartOpensOneTransferPerSlotAndPerAddress) {
  int bob = AddClient("Bob", "1", kBob);
  int ann = AddClient("Ann", "2", kBob);
  platform::TConsoleCapture capture;
  auto call = Run(ScreenCmd, {"Bob", "900"});
  EXPECT_EQ(call.Reply(), "rpl:true");
  EXPECT_FALSE(call.Failed);
  EXPECT_TRUE(capture.Contains("Screen transport started."));
  EXPECT_EQ(State(bob), "pending size=900 held=0 at=0");
  EXPECT_EQ(Run(ScreenCmd, {"Bob", "900"}, "127.0.0.7").Reply(), "rpl:false") << "already receiving";
  EXPECT_EQ(Run(ScreenCmd, {"Ann", "900"}).Reply(), "rpl:false") << "a transfer is under way from this address";
  EXPECT_EQ(State(ann), "idle size=0 held=0 at=0");
  EXPECT_EQ(Run(ScreenCmd, {"Nobody", "900"}).Reply(), "rpl:false");

  // "John  Smith 900" splits into John, Smith, 900: the name has one blank.
  AddClient("John  Smith", "3", "127.0.0.2");
  int single = AddClient("John Smith", "4", "127.0.0.2");
  EXPECT_EQ(Run(ScreenCmd, {"John", "Smith", "900"}, "127.0.0.2").Reply(), "rpl:true");
  EXPECT_EQ(State(single), "pending size=900 held=0 at=0");
}

TEST_F(ScreenExchange, StartFailsOnABadNumberAndRefusesSizesOutsideSixteenMebibytes) {
  int bob = AddClient("Bob", "1", kBob);
  for (std::vector<std::string> arguments : std::vector<std::vector<std::string>>{
           {"Bob", "9x"}, {"Bob", "-"}, {"Bob", "2147483648"}, {"Bob"}, {}, {"Nobody", "x"}}) {
    auto call = Run(ScreenCmd, arguments);
    EXPECT_EQ(call.Reply(), "rpl:false");
    EXPECT_TRUE(call.Failed) << testing::PrintToString(arguments);
  }
  for (const char* size : {"-5", "16777217", "2147483647"}) {
    auto call = Run(ScreenCmd, {"Bob", size});
    EXPECT_EQ(call.Reply(), "rpl:false") << size;
    EXPECT_FALSE(call.Failed) << size;
  }
  EXPECT_EQ(State(bob), "idle size=0 held=0 at=0");
  EXPECT_EQ(Run(ScreenCmd, {"Bob", "+16777216"}).Reply(), "rpl:true");
}

TEST_F(ScreenExchange, SeventyFiveBytesAreSavedBeforeTheLastOkAndWrongLengthsResent) {
  int bob = AddClient("Bob", "ABC123", kBob);
  Run(ScreenCmd, {"Bob", "75"});
  const std::string file = std::string(30, 'a') + std::string(30, 'b') + "0123456789abcde";
  platform::TConsoleCapture capture;
  EXPECT_EQ(Piece(file.substr(0, 30)), "ok");
  EXPECT_EQ(Piece(std::string(20, 'x')), "resend");
  EXPECT_TRUE(capture.Contains("aaa"));
  EXPECT_EQ(Piece(file.substr(30, 30)), "ok");
  EXPECT_TRUE(Saved(Screens()).empty());
  EXPECT_EQ(Piece(file.substr(60)), "ok");
  EXPECT_EQ(OnlyFile(Screens()), file);
  EXPECT_TRUE(capture.Contains("Screen saved"));
  EXPECT_EQ(State(bob), "idle size=0 held=0 at=0");
}

TEST_F(ScreenExchange, ZeroLengthPiecesIdleAddressesAndTwoSlotsAtOneAddress) {
  int bob = AddClient("Bob", "1", kBob);
  int ann = AddClient("Ann", "2", kBob);
  EXPECT_EQ(Piece(std::string(30, 'x')), "") << "registered, but idle";
  EXPECT_EQ(Piece(std::string(30, 'x'), "127.0.0.9"), "");
  Run(ScreenCmd, {"Ann", "60"});
  EXPECT_EQ(Piece(""), "ok") << "0 is 60 modulo 30";
  EXPECT_EQ(State(ann), "pending size=60 held=0 at=0");
  // A second transfer at the address cannot open: not from there, and not
  // from another address, which may not act on Bob's transfer at all.
  EXPECT_EQ(Run(ScreenCmd, {"Bob", "0"}).Reply(), "rpl:false");
  EXPECT_EQ(Run(ScreenCmd, {"Bob", "0"}, "127.0.0.5").Reply(), "rpl:false");
  EXPECT_EQ(Piece(""), "ok");
  EXPECT_EQ(State(bob), "idle size=0 held=0 at=0");
  EXPECT_EQ(State(ann), "pending size=60 held=0 at=0");
}

TEST_F(ScreenExchange, CheckComparesTheCountAndMovesBackToAPieceStart) {
  int bob = AddClient("Bob", "1", kBob);
  Run(ScreenCmd, {"Bob", "105"});
  Piece(std::string(30, 'a'));
  Piece(std::string(30, 'b'));
  platform::TConsoleCapture capture;
  EXPECT_EQ(Run(ChkScreenCmd, {"Bob", "60"}).Reply(), "rpl:ok");
  EXPECT_FALSE(capture.Contains("Correcting screen"));
  EXPECT_EQ(Run(ChkScreenCmd, {"Bob", "90"}).Reply(), "rpl:resend");
  EXPECT_TRUE(capture.Contains("Correcting screen"));
  EXPECT_EQ(State(bob), "pending size=105 held=60 at=60") << "already at a piece start";

  Piece(std::string(15, 'c'));  // the short piece, out of place
  EXPECT_EQ(Run(ChkScreenCmd, {"Bob", "90"}).Reply(), "rpl:resend");
  EXPECT_EQ(State(bob), "pending size=105 held=75 at=60");
  EXPECT_EQ(Piece(std::string(30, 'd')), "ok");
  EXPECT_EQ(State(bob), "pending size=105 held=90 at=90");
  EXPECT_EQ(testenv::ClientOf(tables_, bob).ScreenBytes.substr(60), std::string(30, 'd'))
      << "bytes 60 to 89 overwritten";
}

TEST_F(ScreenExchange, CheckThatCannotBeReadAnswersResendAndChangesNothing) {
  int bob = AddClient("Bob", "1", kBob);
  Run(ScreenCmd, {"Bob", "105"});
  Piece(std::string(15, 'c'));
  platform::TConsoleCapture capture;
  for (std::vector<std::string> arguments :
       std::vector<std::vector<std::string>>{{"Bob"}, {}, {"Nobody", "15"}, {"Bob", "x"}, {"Bob", "0x0f"}}) {
    auto call = Run(ChkScreenCmd, arguments);
    EXPECT_EQ(call.Reply(), "rpl:resend") << testing::PrintToString(arguments);
    EXPECT_FALSE(call.Failed);
  }
  EXPECT_TRUE(capture.Lines().empty());
  EXPECT_EQ(State(bob), "pending size=105 held=15 at=15");
}

TEST_F(ScreenExchange, FileNameIsStampedAndTheIdentifierCannotLeaveItsDirectory) {
  platform::TimeShape shape;
  shape.DateFormat = "%m/%d/%Y";
  platform::SetShapeForTesting(shape);
  AddClient("Bob", std::string("../../x/y\\z\x01\n:*?\"<>|", 20), kBob);
  Run(ScreenCmd, {"Bob", "5"});
  EXPECT_EQ(Piece("12345"), "ok");
  auto names = Saved(Screens());
  ASSERT_EQ(names.size(), 1u);
  // "^12.06.2026^15.59.56^IP^127.0.0.1^ID^......x.y.z........jpg"
  EXPECT_TRUE(std::regex_match(
      names[0], std::regex(R"(\^\d\d\.\d\d\.\d{4}\^\d\d\.\d\d\.\d\d\^IP\^127\.0\.0\.1\^ID\^\.{6}x\.y\.z\.{7}\.jpg)")))
      << names[0];
  EXPECT_EQ(Saved(dir_.Path() + "zelk_screens/"), std::vector<std::string>{kBob}) << "nothing beside it";

  shape.DateFormat = "";
  platform::SetShapeForTesting(shape);
  Run(ScreenCmd, {"Bob", "0"});
  EXPECT_EQ(Piece(""), "ok");
  bool unknownDate = false;
  for (const auto& name : Saved(Screens())) unknownDate |= name.rfind("^unknown_date^", 0) == 0;
  EXPECT_TRUE(unknownDate);
}

TEST_F(ScreenExchange, ScreenDirIsUsedAsGiven) {
  settings_.ScreenDir = dir_.Path() + "shots/";
  AddClient("Bob", "id", kBob);
  Run(ScreenCmd, {"Bob", "3"});
  EXPECT_EQ(Piece("abc"), "ok");
  EXPECT_EQ(OnlyFile(dir_.Path() + "shots/" + kBob + "/"), "abc");
  EXPECT_FALSE(fs::exists(dir_.Path() + "zelk_screens"));
}

TEST_F(ScreenExchange, FailedSaveLogsCode15AndAPiecePastTheSizeEndsTheTransfer) {
  fs::create_directory(dir_.Path() + "zelk_screens");
  testenv::WriteFile(dir_.Path() + "zelk_screens/" + kBob, "a file where the directory should be");
  int bob = AddClient("Bob", "id", kBob);
  Run(ScreenCmd, {"Bob", "60"});
  EXPECT_EQ(Piece(std::string(30, 'x')), "ok");
  EXPECT_EQ(Piece(std::string(30, 'y')), "ok") << "the reply survives the failure";
  EXPECT_NE(FullLog().find("Error [screen receiving module]: error code 15\r\n"), std::string::npos);
  EXPECT_EQ(State(bob), "pending size=60 held=60 at=60") << "the bytes stay for a later attempt";
  // A zero-length piece tries the save again.
  fs::remove(dir_.Path() + "zelk_screens/" + kBob);
  EXPECT_EQ(Piece(""), "ok");
  EXPECT_EQ(OnlyFile(Screens()), std::string(30, 'x') + std::string(30, 'y'));

  // 40 bytes end with a piece of 10: a second full piece would run past the end.
  Run(ScreenCmd, {"Bob", "40"});
  EXPECT_EQ(Piece(std::string(30, 'x')), "ok");
  EXPECT_EQ(Piece(std::string(30, 'z')), "");
  EXPECT_NE(FullLog().find("from " + kBob), std::string::npos) << "the log names the sender";
  EXPECT_EQ(State(bob), "idle size=0 held=0 at=0");
}

TEST_F(ScreenExchange, TransfersHoldAtMost64MiBAndGiveTheirMemoryBackHoweverTheyEnd) {
  // Four clients announce 16 MiB each: 64 MiB in all, and not a byte more.
  const std::string size = std::to_string(kMaxScreenBytes);
  for (int i = 1; i <= 4; ++i) {
    const std::string address = "127.0.0." + std::to_string(i);
    AddClient("p" + std::to_string(i), "id", address);
    EXPECT_EQ(Run(ScreenCmd, {"p" + std::to_string(i), size}, address).Reply(), "rpl:true") << i;
  }
  AddClient("p5", "id", "127.0.0.5");
  EXPECT_EQ(Run(ScreenCmd, {"p5", "1"}, "127.0.0.5").Reply(), "rpl:false") << "past 64 MiB";

  auto capacity = [this](int slot) {
    TClientSlotLock lock(tables_, slot);
    return lock.Slot().ScreenData.Capacity();
  };
  EXPECT_EQ(Piece(std::string(30, 'a'), "127.0.0.1"), "ok");
  EXPECT_GE(capacity(1), static_cast<size_t>(kMaxScreenBytes));
  Run(UpdateCmd, {"p1", "0"}, "127.0.0.1");  // cancelled
  Run(DisConnectCmd, {"p2"}, "127.0.0.2");   // the client left
  for (const char* name : {"p3", "p4"}) {
    const std::string address = std::string("127.0.0.") + name[1];
    Run(UpdateCmd, {name, "0"}, address);
    EXPECT_EQ(Run(ScreenCmd, {name, "40"}, address).Reply(), "rpl:true");
    EXPECT_EQ(Piece(std::string(30, 'b'), address), "ok");
  }
  EXPECT_EQ(Piece(std::string(30, 'c'), "127.0.0.3"), "") << "past the announced size";
  EXPECT_EQ(Piece(std::string(10, 'c'), "127.0.0.4"), "ok") << "complete and saved";
  for (int slot = 1; slot <= 4; ++slot) EXPECT_EQ(capacity(slot), 0u) << slot;
  EXPECT_EQ(Run(ScreenCmd, {"p5", size}, "127.0.0.5").Reply(), "rpl:true") << "room again";
}

}  // namespace
