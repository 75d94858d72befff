// The screen receiver over real UDP on loopback: the datagram size limit and
// the receiver racing the commands and a disconnect. (A whole JPEG through a
// lost piece is sent through the real program in the player's road.)
#include "screens/screen_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "channel/client_commands.h"
#include "clientsim/screen_sender.h"
#include "registry/busy_flag.h"
#include "registry/tables.h"
#include "supervision/server_state.h"
#include "channel/screen_commands.h"
#include "support/test_env.h"

namespace {

// Runs a command line in-process as the command channel would, from peer.
std::optional<std::string> RunLine(TServerState& state, const std::string& line, const std::string& peer) {
  CommandCall call;
  call.PeerAddress = peer;
  call.Arguments = SplitArguments(line.substr(line.find(' ') + 1));
  (line.rfind("<start_screen>", 0) == 0 ? ScreenCmd : ChkScreenCmd)(CommandContextOf(state), call);
  return call.Reply();
}

class ScreenServerUdp : public ::testing::Test {
 protected:
  void SetUp() override {
    testenv::ResetProcessFacilities(dir_.Path());
    std::string error;
    ASSERT_TRUE(server_.Activate(0, &error)) << error;
    auto pieces = clientsim::TPieceSender::Open(ServerEndpoint(), "", &error);
    ASSERT_TRUE(pieces) << error;
    pieces_.emplace(std::move(*pieces));
  }
  void TearDown() override {
    server_.Release();
  }
  platform::Endpoint ServerEndpoint() const { return {*platform::ParseDottedAddress("127.0.0.1"), server_.BoundPort()}; }

  testenv::TTempDir dir_;
  TServerState state_{testenv::TestSettings(), testenv::TestTiming()};
  TTables& tables_ = state_.Tables;
  TScreenServer server_{tables_, state_.Settings, state_.Timing};
  std::optional<clientsim::TPieceSender> pieces_;
};

TEST_F(ScreenServerUdp, DatagramsOver8192BytesAreDroppedWithoutReply) {
  EXPECT_FALSE(pieces_->SendRaw(std::string(8193, 'x'), 300));
  EXPECT_EQ(pieces_->SendRaw(std::string(8192, 'x'), 2000), std::optional<std::string>(""))
      << "the receiver goes on, and answers a datagram of the limit";
}

// The receiver appends from its own thread while the commands start, check
// and cancel transfers and the client leaves and comes back, all on one slot.
TEST_F(ScreenServerUdp, ReceiverRacesTheCommandsAndADisconnect) {
  {
    TBusyGuard busy(tables_);
    AddClient(busy, "Bob", "id", "127.0.0.1");
  }
  std::atomic<bool> done{false};
  std::atomic<long> answered{0};
  std::thread sender([&] {
    std::string error;
    auto pieces = clientsim::TPieceSender::Open(ServerEndpoint(), "", &error);
    for (int i = 0; pieces && !done; ++i) {
      const std::string piece(i % 7 == 0 ? 15 : 30, static_cast<char>('a' + i % 26));
      if (pieces->Send(piece, 1000) != clientsim::PieceReply::NoReply) ++answered;
    }
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  for (int round = 0; std::chrono::steady_clock::now() < deadline; ++round) {
    RunLine(state_, "<start_screen> Bob " + std::to_string(round % 2 ? 105 : 3000), "127.0.0.1");
    RunLine(state_, "<check_screen> Bob " + std::to_string(round * 30), "127.0.0.1");
    CommandCall call;
    call.PeerAddress = "127.0.0.1";
    call.Arguments = {"Bob", "0"};
    if (round % 3 == 1) UpdateCmd(CommandContextOf(state_), call);  // cancels the transfer
    if (round % 3 == 0) {
      call.Arguments = {"Bob"};
      DisConnectCmd(CommandContextOf(state_), call);
      TBusyGuard busy(tables_);
      AddClient(busy, "Bob", "id", "127.0.0.1");
    }
  }
  done = true;
  sender.join();
  EXPECT_GT(answered.load(), 0);
  TBusyGuard busy(tables_);
  const ClientSlot& client = busy.Client(FindClientByName(busy, "Bob"));
  TMutexLock guard(client.Guard);
  EXPECT_LE(static_cast<long>(client.ScreenData.Bytes().size()), std::max<long>(client.ScreenSize, 0))
      << "the buffer never outgrows the announced size";
}

}  // namespace
