// The screen receiver over real UDP on loopback: a whole JPEG with a lost
// piece, the datagram size limit, a port that cannot be bound, and the
// receiver racing the commands and a disconnect.
#include "screens/screen_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "channel/client_commands.h"
#include "clientsim/screen_sender.h"
#include "platform/console.h"
#include "registry/busy_flag.h"
#include "registry/tables.h"
#include "screens/screen_commands.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;

std::string TestJpeg() {
  return testenv::ReadFile((fs::path(__FILE__).parent_path().parent_path() / "data" / "screen.jpg").string());
}

// Runs a command line in-process as the command channel would, from peer.
std::optional<std::string> RunLine(const std::string& line, const std::string& peer) {
  CommandCall call;
  call.PeerAddress = peer;
  call.Arguments = SplitArguments(line.substr(line.find(' ') + 1));
  (line.rfind("<start_screen>", 0) == 0 ? ScreenCmd : ChkScreenCmd)(call);
  return call.Reply();
}

class ScreenServerUdp : public ::testing::Test {
 protected:
  void SetUp() override {
    testenv::ResetProcessState(dir_.Path());
    std::string error;
    ASSERT_TRUE(server_.Activate(0, &error)) << error;
    auto pieces = clientsim::TPieceSender::Open(ServerEndpoint(), "", &error);
    ASSERT_TRUE(pieces) << error;
    pieces_.emplace(std::move(*pieces));
  }
  void TearDown() override {
    server_.Release();
    ResetClients();
  }
  platform::Endpoint ServerEndpoint() const { return {*platform::ParseDottedAddress("127.0.0.1"), server_.BoundPort()}; }

  testenv::TTempDir dir_;
  TScreenServer server_;
  std::optional<clientsim::TPieceSender> pieces_;
};

TEST_F(ScreenServerUdp, JpegArrivesWholeAfterALostPieceIsFoundByACheck) {
  const std::string jpeg = TestJpeg();
  ASSERT_GT(jpeg.size(), 1000u);
  AddClient("Bob", "ABC123", "127.0.0.1");
  clientsim::ScreenSendOptions options;
  options.Name = "Bob";
  options.LosePiece = 10;
  options.ReplyWaitMs = 2000;
  platform::TConsoleCapture capture;
  auto result = clientsim::SendScreenshot([](const std::string& line) { return RunLine(line, "127.0.0.1"); },
                                          *pieces_, jpeg, options);
  ASSERT_TRUE(result.Completed) << result.Error;
  EXPECT_EQ(result.Resends, 1);
  EXPECT_EQ(result.Checks, 2) << "one for the lost piece, one before the last";
  EXPECT_TRUE(capture.Contains("Correcting screen"));
  EXPECT_TRUE(capture.Contains("Screen saved"));

  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir_.Path() + "zelk_screens/127.0.0.1")) files.push_back(entry.path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(testenv::ReadFile(files[0].string()), jpeg);
  EXPECT_EQ(pieces_->Send(std::string(30, 'x'), 2000), clientsim::PieceReply::Empty) << "the transfer is over";
}

TEST_F(ScreenServerUdp, DatagramsOver8192BytesAreDroppedWithoutReply) {
  EXPECT_FALSE(pieces_->SendRaw(std::string(8193, 'x'), 300));
  EXPECT_EQ(pieces_->SendRaw(std::string(8192, 'x'), 2000), std::optional<std::string>(""))
      << "the receiver goes on, and answers a datagram of the limit";
}

// The receiver appends from its own thread while the commands start, check
// and cancel transfers and the client leaves and comes back, all on one slot.
TEST_F(ScreenServerUdp, ReceiverRacesTheCommandsAndADisconnect) {
  {
    TBusyGuard busy;
    AddClient("Bob", "id", "127.0.0.1");
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
    RunLine("<start_screen> Bob " + std::to_string(round % 2 ? 105 : 3000), "127.0.0.1");
    RunLine("<check_screen> Bob " + std::to_string(round * 30), "127.0.0.1");
    CommandCall call;
    call.PeerAddress = "127.0.0.1";
    call.Arguments = {"Bob", "0"};
    if (round % 3 == 1) UpdateCmd(call);  // cancels the transfer
    if (round % 3 == 0) {
      call.Arguments = {"Bob"};
      DisConnectCmd(call);
      TBusyGuard busy;
      AddClient("Bob", "id", "127.0.0.1");
    }
  }
  done = true;
  sender.join();
  EXPECT_GT(answered.load(), 0);
  const int slot = FindClientByName("Bob");
  std::lock_guard<std::mutex> guard(Client(slot).Guard);
  EXPECT_LE(static_cast<long>(Client(slot).ScreenData.Bytes.size()), std::max<long>(Client(slot).ScreenSize, 0))
      << "the buffer never outgrows the announced size";
}

}  // namespace
