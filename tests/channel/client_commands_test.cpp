// The client commands: connect, disconnect, update and ban, called directly
// with a prepared CommandCall, and a few over the wire through a real server.
#include "channel/client_commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/server.h"
#include "base/limits.h"
#include "base/settings.h"
#include "clientsim/client_sim.h"
#include "bans/ban_base.h"
#include "platform/console.h"
#include "registry/tables.h"
#include "supervision/server_state.h"
#include "support/tables_peek.h"
#include "support/test_env.h"

namespace {

const std::string kHere = "10.0.0.5";
const std::string kElsewhere = "10.0.0.9";

class ClientCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    testenv::ResetProcessFacilities(dir_.Path());
    state_.Settings.ClientId = "clid";
  }
  // What the handlers work on: the fixture's own state, or a server's.
  virtual TServerState& State() { return state_; }
  TTables& Tables() { return State().Tables; }

  static CommandCall Call(const std::string& arguments, const std::string& peer) {
    CommandCall call;
    call.ArgumentText = arguments;
    call.Arguments = SplitArguments(arguments);
    call.PeerAddress = peer;
    return call;
  }
  // Runs a handler; its one reply line ("" for none). BusyFlag must be free after.
  template <typename Handler>
  std::string Run(Handler handler, const std::string& arguments, const std::string& peer = kHere,
                         bool* failed = nullptr) {
    CommandCall call = Call(arguments, peer);
    handler(call);
    EXPECT_FALSE(Tables().IsBusy());
    EXPECT_LE(call.ReplyText.size(), 1u);
    if (failed) *failed = call.Failed;
    return call.Reply();
  }
  std::string Connect(const std::string& name, const std::string& id = "123",
                             const std::string& peer = kHere) {
    return Run(connectCmd_, name + " " + id + " clid", peer);
  }
  void ListPlayer(const std::string& name, const std::string& address) {
    ASSERT_NE(testenv::AddPlayerTo(Tables(), name, address, 27005), 0);
  }

  testenv::TTempDir dir_;
  TServerState state_{testenv::TestSettings(), testenv::TestTiming()};
  const CommandHandlerFn connectCmd_ = [this](CommandCall& call) { ConnectCmd(CommandContextOf(State()), call); };
  const CommandHandlerFn disConnectCmd_ = [this](CommandCall& call) { DisConnectCmd(CommandContextOf(State()), call); };
  const CommandHandlerFn updateCmd_ = [this](CommandCall& call) { UpdateCmd(CommandContextOf(State()), call); };
};

const std::string kAcceptScreens12q40 = std::string("rpl:accept\xFF") + "112\xFF" + "40";

TEST_F(ClientCommands, ConnectRejoinsTheNameAndStoresThePeerAddress) {
  state_.Settings.AllowScreens = true;
  platform::TConsoleCapture capture;
  EXPECT_EQ(Run(connectCmd_, "John   Smith 123 clid"), kAcceptScreens12q40);
  int slot = testenv::FindClientIn(Tables(), "John Smith");
  ASSERT_EQ(slot, 1);
  EXPECT_EQ(testenv::ClientOf(Tables(), slot).Identifier, "123");
  EXPECT_EQ(testenv::ClientOf(Tables(), slot).Address, kHere);
  EXPECT_EQ(testenv::ClientCountOf(Tables()), 1);
  EXPECT_TRUE(capture.Contains("Connected: Name:\"John Smith\";ID123;IP:" + kHere));

  state_.Settings.AllowScreens = false;
  state_.Settings.ScreenInterval = 6;
  state_.Settings.ScreenQuality = 75;
  EXPECT_EQ(Connect("Ann"), std::string("rpl:accept\xFF") + "06\xFF" + "75");
}

TEST_F(ClientCommands, ConnectChecksTheParametersThenTheCheckValueThenTheName) {
  bool failed = false;
  EXPECT_EQ(Run(connectCmd_, "Bob clid", kHere, &failed), "");
  EXPECT_TRUE(failed) << "too few parameters: no reply, the connection closes";
  failed = false;
  EXPECT_EQ(Run(connectCmd_, "Bob \x01\x02 clid", kHere, &failed), "");
  EXPECT_TRUE(failed) << "an identifier of control bytes only is none";
  const std::string accept = std::string("rpl:accept\xFF") + "012\xFF" + "40";
  ASSERT_EQ(Connect("Bob"), accept);
  EXPECT_EQ(Run(connectCmd_, "Bob 123 CLID"), "rpl:ccv");
  EXPECT_EQ(Connect("Bob", "999", kElsewhere), "rpl:exists");
  EXPECT_EQ(Connect("bob"), accept);
  state_.Settings.ClientId.clear();
  EXPECT_EQ(Connect("Dan"), "rpl:ccv");
  EXPECT_EQ(testenv::ClientCountOf(Tables()), 2);
}

TEST_F(ClientCommands, ConnectWithAFullTableAnswersFalseAndLogsNothing) {
  for (int i = 0; i < kTableSlots; ++i) ASSERT_NE(Connect("p" + std::to_string(i)), "rpl:false");
  platform::TConsoleCapture capture;
  EXPECT_EQ(Connect("late"), "rpl:false");
  EXPECT_FALSE(capture.ContainsPrefix("Connected:"));
  EXPECT_EQ(testenv::ClientCountOf(Tables()), kTableSlots);
}

TEST_F(ClientCommands, ConnectCutsLongNamesAndIdentifiersToTheirCapacity) {
  const std::string longName(40, 'n');
  platform::TConsoleCapture capture;
  Connect(longName, std::string(70, 'i'));
  EXPECT_TRUE(capture.Contains("Connected: Name:\"" + std::string(kNameChars, 'n') + "\";ID" +
                               std::string(kIdentifierChars, 'i') + ";IP:" + kHere));
  // The long name is not registered as such: it is accepted again, and cannot
  // be disconnected by it.
  EXPECT_NE(Connect(longName, "x"), "rpl:exists");
  EXPECT_EQ(Run(disConnectCmd_, longName), "rpl:false");
}

// The identifier is looked up as stored: a longer one does not dodge its ban,
// and a ban base that cannot be read admits nobody.
TEST_F(ClientCommands, ConnectLooksUpTheBanOfTheCutIdentifier) {
  ASSERT_TRUE(TBanFile().AppendBanRecord(0, std::string(kIdentifierChars, 'i')));
  EXPECT_EQ(Connect("Bob", std::string(70, 'i')), "rpl:ban");
  std::filesystem::remove(BanBasePath());
  std::filesystem::create_directory(BanBasePath());
  bool failed = false;
  EXPECT_EQ(Run(connectCmd_, "Bob 123 clid", kHere, &failed), "");
  EXPECT_TRUE(failed);
  EXPECT_EQ(testenv::ClientCountOf(Tables()), 0);
}

TEST_F(ClientCommands, DisconnectActsOnlyFromTheRegisteredAddress) {
  Connect("John Smith");
  platform::TConsoleCapture capture;
  EXPECT_EQ(Run(disConnectCmd_, "John Smith", kElsewhere), "rpl:false");
  EXPECT_EQ(Run(disConnectCmd_, "john smith"), "rpl:false");
  EXPECT_EQ(testenv::ClientCountOf(Tables()), 1);
  EXPECT_EQ(Run(disConnectCmd_, " John  Smith "), "rpl:ok");
  EXPECT_EQ(testenv::ClientCountOf(Tables()), 0);
  EXPECT_EQ(Run(disConnectCmd_, "John Smith"), "rpl:false");
  EXPECT_EQ(capture.Lines(), std::vector<std::string>(4, "command: disconnect"));

  bool failed = false;
  EXPECT_EQ(Run(disConnectCmd_, "", kHere, &failed), "rpl:false");
  EXPECT_TRUE(failed);
}

TEST_F(ClientCommands, UpdateResetsMissedUpdatesAndAnswersByListAndTransfers) {
  Connect("John Smith");
  testenv::SetMissedUpdates(Tables(), 1, 3);
  EXPECT_EQ(Run(updateCmd_, "John Smith 1"), "rpl:true");  // not on the player list
  EXPECT_EQ(testenv::ClientOf(Tables(), 1).MissedUpdates, 0);

  ListPlayer("John Smith", kElsewhere);
  EXPECT_EQ(Run(updateCmd_, "John Smith 1"), "rpl:true");  // listed with another address
  ListPlayer("John Smith", kHere);
  EXPECT_EQ(Run(updateCmd_, "John  Smith 1"), "rpl:strue");

  // A transfer pending from another client at this connection's address.
  Connect("Other", "7", kElsewhere);
  testenv::StartTransfer(Tables(), 2);
  EXPECT_EQ(Run(updateCmd_, "John Smith 1", kElsewhere), "rpl:true");

  testenv::SetMissedUpdates(Tables(), 1, 2);
  EXPECT_EQ(Run(updateCmd_, "john smith 1"), "rpl:false");
  EXPECT_EQ(testenv::ClientOf(Tables(), 1).MissedUpdates, 2);
  bool failed = false;
  EXPECT_EQ(Run(updateCmd_, "John", kHere, &failed), "rpl:false");
  EXPECT_TRUE(failed);
}

TEST_F(ClientCommands, UpdateWithLowByteZeroCancelsTheTransfer) {
  Connect("Bob");
  ListPlayer("Bob", kHere);
  testenv::StartTransfer(Tables(), 1, 100, "partial");
  EXPECT_EQ(Run(updateCmd_, "Bob 1"), "rpl:true");
  EXPECT_TRUE(testenv::ClientOf(Tables(), 1).ScreenPending);
  EXPECT_EQ(testenv::ClientOf(Tables(), 1).ScreenBytes, "partial");

  for (const char* cancel : {"0", "256", "$200"}) {
    testenv::StartTransfer(Tables(), 1, 100, "partial");
    EXPECT_EQ(Run(updateCmd_, std::string("Bob ") + cancel), "rpl:strue") << cancel;
    const testenv::TClientPeek client = testenv::ClientOf(Tables(), 1);
    EXPECT_FALSE(client.ScreenPending);
    EXPECT_EQ(Tables().OpenTransfers(), 0);
    EXPECT_TRUE(client.ScreenBytes.empty());
    EXPECT_EQ(client.ScreenSize, 100);
  }
}

TEST_F(ClientCommands, UpdateWithANonNumberLogsAndStillCounts) {
  Connect("Bob");
  ListPlayer("Bob", kHere);
  testenv::SetMissedUpdates(Tables(), 1, 3);
  testenv::StartTransfer(Tables(), 1);
  platform::TConsoleCapture capture;
  EXPECT_EQ(Run(updateCmd_, "Bob x"), "rpl:true");
  EXPECT_TRUE(capture.Contains("Error[update module]: unknow pocket"));
  EXPECT_TRUE(testenv::ClientOf(Tables(), 1).ScreenPending);
  EXPECT_EQ(testenv::ClientOf(Tables(), 1).MissedUpdates, 0);
}

// On a server object: BanCmd runs on its state, and the test over the wire
// reaches its command port.
class BanCommand : public ClientCommands {
 protected:
  void SetUp() override {
    ClientCommands::SetUp();
    state_.Settings.RconPort = testenv::PickRconPort();
    state_.Settings.AllowScreens = true;
    server_ = std::make_unique<TServer>(state_.Settings, state_.Timing);
  }
  TServerState& State() override { return server_->State; }
  void TearDown() override { server_.reset(); }
  std::string Ban(const std::string& arguments, const std::string& peer = kHere, bool* failed = nullptr) {
    return Run([this](CommandCall& call) { BanCmd(CommandContextOf(State()), call); }, arguments, peer, failed);
  }
  std::unique_ptr<TServer> server_;
};

// Refusals that never reach the game server: too few parameters (the console
// line first, then no reply), and a report from another address (logged).
TEST_F(BanCommand, TooFewParametersOrAnotherAddressIsRefused) {
  Connect("John Smith");
  ListPlayer("John Smith", kHere);
  platform::TConsoleCapture capture;
  bool failed = false;
  EXPECT_EQ(Ban("John", kHere, &failed), "");
  EXPECT_TRUE(failed);
  EXPECT_EQ(capture.Lines(), std::vector<std::string>{"command: ban"});

  EXPECT_EQ(Ban("John Smith wallhack", kElsewhere), "rpl:false");
  const std::string log = testenv::ReadFile(dir_.Path() + "logs/zelk_logs.txt");
  EXPECT_NE(log.find("\"John Smith\""), std::string::npos) << log;
  EXPECT_NE(log.find(kHere), std::string::npos);
  EXPECT_NE(log.find(kElsewhere), std::string::npos);
  EXPECT_EQ(testenv::FindClientIn(Tables(), "John Smith"), 1);
}

// Over the wire: the accept line's bytes, command words in capitals, the
// address checks between machines, and a failed command closing the connection.
TEST_F(BanCommand, OverTheWire) {
  const int port = State().Settings.RconPort + kCommandPortOffset;
  std::string error;
  auto john = clientsim::TClientSim::Open("127.0.0.1", port, &error, "127.0.0.2");
  auto other = clientsim::TClientSim::Open("127.0.0.1", port, &error, "127.0.0.3");
  ASSERT_TRUE(john && other) << error;

  EXPECT_EQ(john->Command("<CONNECT> John Smith 123 clid"), kAcceptScreens12q40);
  EXPECT_EQ(testenv::ClientOf(Tables(), 1).Address, "127.0.0.2");
  EXPECT_EQ(other->Command("<disconnect> John Smith"), "rpl:false");
  EXPECT_EQ(other->Command("<ban> John Smith aim"), "rpl:false");
  EXPECT_EQ(john->Command("<update> John Smith 1"), "rpl:true");
  EXPECT_EQ(john->Command("<Disconnect> John Smith"), "rpl:ok");
  EXPECT_EQ(john->Command("<update>"), "rpl:false");
  EXPECT_TRUE(john->WaitClosed(2000));
}

}  // namespace
