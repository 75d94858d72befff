// "<start_screen>" and "<check_screen>" run in-process: replies, console lines,
// what they change in the slot, and the correction of the write position.
#include "screens/screen_commands.h"

#include <gtest/gtest.h>

#include "platform/console.h"
#include "registry/busy_flag.h"
#include "registry/tables.h"
#include "screens/screen_server.h"
#include "support/test_env.h"

namespace {

class ScreenCommands : public ::testing::Test {
 protected:
  void SetUp() override { testenv::ResetProcessState(dir_.Path()); }
  void TearDown() override { ResetClients(); }

  // Runs a handler on the given parameters from peer; the call afterwards.
  CommandCall Run(void (*handler)(CommandCall&), std::vector<std::string> arguments,
                  const std::string& peer = "127.0.0.1") {
    CommandCall call;
    call.Arguments = std::move(arguments);
    call.PeerAddress = peer;
    handler(call);
    EXPECT_FALSE(call.ReplyPending) << "the handler sends its reply itself";
    EXPECT_FALSE(IsBusy()) << "BusyFlag is released on every path";
    return call;
  }
  // The slot's transfer state as one line, read under its Guard.
  std::string State(int slot) {
    const ClientSlot& client = Client(slot);
    std::lock_guard<std::mutex> guard(client.Guard);
    return std::string(client.ScreenPending ? "pending" : "idle") + " size=" + std::to_string(client.ScreenSize) +
           " held=" + std::to_string(client.ScreenData.Bytes.size()) +
           " at=" + std::to_string(client.ScreenData.Position);
  }

  testenv::TTempDir dir_;
};

TEST_F(ScreenCommands, StartOpensOneTransferPerSlotAndPerAddress) {
  int bob = AddClient("Bob", "1", "127.0.0.1");
  int ann = AddClient("Ann", "2", "127.0.0.1");
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
}

TEST_F(ScreenCommands, StartWithABadOrMissingNumberFailsAfterItsReply) {
  int bob = AddClient("Bob", "1", "127.0.0.1");
  for (std::vector<std::string> arguments : std::vector<std::vector<std::string>>{
           {"Bob", "9x"}, {"Bob", ""}, {"Bob", "-"}, {"Bob", "2147483648"}, {"Bob"}, {}, {"Nobody", "x"}}) {
    auto call = Run(ScreenCmd, arguments);
    EXPECT_EQ(call.Reply(), "rpl:false");
    EXPECT_TRUE(call.Failed) << testing::PrintToString(arguments);
  }
  EXPECT_EQ(State(bob), "idle size=0 held=0 at=0");
}

TEST_F(ScreenCommands, StartRefusesSizesOutsideZeroToSixteenMebibytes) {
  int bob = AddClient("Bob", "1", "127.0.0.1");
  for (const char* size : {"-5", "-1", "16777217", "2147483647"}) {
    auto call = Run(ScreenCmd, {"Bob", size});
    EXPECT_EQ(call.Reply(), "rpl:false") << size;
    EXPECT_FALSE(call.Failed) << size;
  }
  EXPECT_EQ(State(bob), "idle size=0 held=0 at=0");
  EXPECT_EQ(Run(ScreenCmd, {"Bob", "+16777216"}).Reply(), "rpl:true");
  EXPECT_EQ(State(bob), "pending size=16777216 held=0 at=0");
}

TEST_F(ScreenCommands, NameIsRebuiltWithSingleBlanks) {
  AddClient("John  Smith", "1", "127.0.0.1");
  int single = AddClient("John Smith", "2", "127.0.0.2");
  // "John  Smith 900" splits into John, Smith, 900.
  EXPECT_EQ(Run(ScreenCmd, {"John", "Smith", "900"}, "127.0.0.2").Reply(), "rpl:true");
  EXPECT_EQ(State(single), "pending size=900 held=0 at=0");
}

TEST_F(ScreenCommands, CheckComparesTheCountAndMovesBackToAPieceStart) {
  int bob = AddClient("Bob", "1", "127.0.0.1");
  Run(ScreenCmd, {"Bob", "105"});
  HandleScreenDatagram(std::string(30, 'a'), "127.0.0.1");
  HandleScreenDatagram(std::string(30, 'b'), "127.0.0.1");
  platform::TConsoleCapture capture;
  EXPECT_EQ(Run(ChkScreenCmd, {"Bob", "60"}).Reply(), "rpl:ok");
  EXPECT_FALSE(capture.Contains("Correcting screen"));

  EXPECT_EQ(Run(ChkScreenCmd, {"Bob", "90"}).Reply(), "rpl:resend");
  EXPECT_TRUE(capture.Contains("Correcting screen"));
  EXPECT_EQ(State(bob), "pending size=105 held=60 at=60") << "already at a piece start";

  HandleScreenDatagram(std::string(15, 'c'), "127.0.0.1");  // a short piece out of place
  EXPECT_EQ(Run(ChkScreenCmd, {"Bob", "90"}).Reply(), "rpl:resend");
  EXPECT_EQ(State(bob), "pending size=105 held=75 at=60");
  EXPECT_EQ(HandleScreenDatagram(std::string(30, 'd'), "127.0.0.1"), "ok");
  EXPECT_EQ(State(bob), "pending size=105 held=90 at=90");
  std::lock_guard<std::mutex> guard(Client(bob).Guard);
  EXPECT_EQ(Client(bob).ScreenData.Bytes.substr(60), std::string(30, 'd')) << "the piece overwrote bytes 60 to 89";
}

TEST_F(ScreenCommands, CheckThatCannotBeReadAnswersResendAndChangesNothing) {
  int bob = AddClient("Bob", "1", "127.0.0.1");
  Run(ScreenCmd, {"Bob", "105"});
  HandleScreenDatagram(std::string(15, 'c'), "127.0.0.1");
  platform::TConsoleCapture capture;
  for (std::vector<std::string> arguments :
       std::vector<std::vector<std::string>>{{"Bob"}, {}, {"Nobody", "15"}, {"Bob", "x"}, {"Bob", "0x0f"}}) {
    auto call = Run(ChkScreenCmd, arguments);
    EXPECT_EQ(call.Reply(), "rpl:resend") << testing::PrintToString(arguments);
    EXPECT_FALSE(call.Failed);
  }
  EXPECT_TRUE(capture.Lines().empty());
  EXPECT_EQ(State(bob), "pending size=105 held=15 at=15");

  // An idle slot holds nothing: 0 matches, anything else "corrects".
  int ann = AddClient("Ann", "2", "127.0.0.2");
  EXPECT_EQ(Run(ChkScreenCmd, {"Ann", "0"}).Reply(), "rpl:ok");
  EXPECT_EQ(Run(ChkScreenCmd, {"Ann", "-30"}).Reply(), "rpl:resend");
  EXPECT_TRUE(capture.Contains("Correcting screen"));
  EXPECT_EQ(State(ann), "idle size=0 held=0 at=0");
}

}  // namespace
