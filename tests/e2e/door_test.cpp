// The real program under the attacks it must survive, each from the outside as
// an adversary would make it: silent and slow connections that would hold
// every place, a flood of bad requests that would fill the log, screenshot
// buffers that would keep their memory, and a third party acting on another
// client's transfer by name.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "clientsim/client_sim.h"
#include "clientsim/screen_sender.h"
#include "gamesim/game_server_sim.h"
#include "registrysim/registry_sim.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace {

using clientsim::ReadStatus;
using clientsim::TClientSim;

constexpr int kCommandWaitMs = 20000;  // a command may wait behind a supervision run
const std::string kAcceptHead = "rpl:accept";

class DoorEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    game_.SetPassword("secret");
    ASSERT_TRUE(testenv::StartOnRconPort(game_, &error)) << error;
    registry_.SetAnswer("ok");
    ASSERT_TRUE(registry_.Start(0, &error)) << error;
    port_ = game_.Port() + 1000;
    testenv::WriteFile(dir_.Path() + "zelk_config.txt",
                       "\"rconhost\" \"127.0.0.1\"\n\"rconport\" \"" + std::to_string(game_.Port()) +
                           "\"\n\"rconpass\" \"secret\"\n\"cl_id\" \"abc\"\n\"allow_screens\" \"1\"\n"
                           "\"registry_host\" \"127.0.0.1:" + std::to_string(registry_.Port()) + "\"\n");
    server_.emplace(ACSERVER_BINARY, std::vector<std::string>{"LC_ALL=C", "ACSERVER_TICK_MS=100",
                                                              "ACSERVER_HOME=" + dir_.Path()},
                    "/");
    ASSERT_TRUE(server_->WaitForOutput("Server successfully started", 15000)) << server_->Output();
    // Clients registered before the first supervision run could be lost to
    // the reset of the tables at start.
    ASSERT_TRUE(game_.WaitForDatagrams(1, 15000));
    ASSERT_TRUE(server_->WaitForOutput("Game server health: answering", 15000)) << server_->Output();
  }
  void TearDown() override {
    server_->Signal(SIGTERM);
    EXPECT_EQ(server_->WaitForExit(15000), 0) << server_->Output();
  }

  TClientSim Open(const std::string& from = "") {
    std::string error;
    auto client = TClientSim::Open("127.0.0.1", port_, &error, from);
    if (!client) ADD_FAILURE() << error;
    return std::move(*client);
  }
  std::string Register(TClientSim& client, const std::string& name) {
    return client.Command(clientsim::ConnectLine(name, "ID-" + name, "abc"), kCommandWaitMs).value_or("(none)");
  }
  long ResidentKb() const { return testenv::ResidentKb(server_->Pid()); }
  std::string FullLog() const { return testenv::ReadFile(dir_.Path() + "logs/zelk_logs.txt"); }

  testenv::TTempDir dir_;
  gamesim::TGameServerSim game_;
  registrysim::TRegistrySim registry_;
  int port_ = 0;
  std::optional<testenv::TChildProcess> server_;  // declared last: ends before the simulators
};

TEST_F(DoorEndToEnd, SilentAndSlowConnectionsCannotLockClientsOut) {
  std::vector<TClientSim> silent;
  for (int i = 0; i < 50; ++i) silent.push_back(Open());
  TClientSim alice = Open();
  EXPECT_EQ(Register(alice, "Alice").rfind(kAcceptHead, 0), 0u) << "all 50 places were taken";
  EXPECT_TRUE(silent.front().WaitClosed(5000)) << "the one silent longest made room";

  // Another 50 take every place but Alice's, which serves a registered client.
  for (int i = 0; i < 50; ++i) silent.push_back(Open());
  EXPECT_EQ(alice.Command(clientsim::UpdateLine("Alice", "1"), kCommandWaitMs), "rpl:true");

  // A byte a second never makes a line: closed at the first-line bound.
  TClientSim slow = Open();
  bool closed = false;
  std::string line;
  for (int second = 0; second < 30 && !closed; ++second) {
    closed = !slow.SendRaw("<") || slow.ReadLine(line, 1000) == ReadStatus::Closed;
  }
  EXPECT_TRUE(closed);
}

TEST_F(DoorEndToEnd, ErrorLinesOfOneAddressAreLimitedAndCannotForgeLines) {
  TClientSim attacker = Open();
  std::string flood;
  for (int i = 0; i < 100; ++i) flood += "<ban> Nobody\x1b[2J\r01/01/26 | 00:00:00 : forged x\n";
  ASSERT_TRUE(attacker.SendRaw(flood));
  std::string line;
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(attacker.ReadLine(line, kCommandWaitMs), ReadStatus::Line) << i;
    EXPECT_EQ(line, "rpl:false");
  }
  TClientSim other = Open("127.0.0.2");
  EXPECT_EQ(other.Command(clientsim::BanLine("Nobody", "x"), kCommandWaitMs), "rpl:false");

  const std::string log = FullLog();
  EXPECT_EQ(testenv::CountOf(log, "ERROR: cannot find user with nickname"), 21) << "20 + 1 from another address";
  EXPECT_EQ(testenv::CountOf(server_->Output(), "ERROR: cannot find user with nickname"), 21);
  EXPECT_EQ(log.find('\x1b'), std::string::npos);
  EXPECT_EQ(testenv::CountOf(log, "\r"), testenv::CountOf(log, "\r\n")) << "no line but the writer's";
}

TEST_F(DoorEndToEnd, ScreenshotMemoryComesBackAndOnlyTheOwnerActsOnItsTransfer) {
  TClientSim alice = Open();
  ASSERT_EQ(Register(alice, "Alice").rfind(kAcceptHead, 0), 0u);
  TClientSim mallory = Open("127.0.0.2");
  ASSERT_EQ(Register(mallory, "Mallory").rfind(kAcceptHead, 0), 0u);
  auto alices = [&](const std::string& command) { return alice.Command(command, kCommandWaitMs); };
  auto mallorys = [&](const std::string& command) { return mallory.Command(command, kCommandWaitMs); };

  const long before = ResidentKb();
  constexpr int kPieces = 2 * 1024 * 1024 / 30;  // 2 MiB of a 4 MiB screenshot
  EXPECT_EQ(mallorys("<start_screen> Alice 90"), "rpl:false");
  ASSERT_EQ(alices("<start_screen> Alice 4194304"), "rpl:true");
  std::string error;
  auto pieces = clientsim::TPieceSender::Open(
      {*platform::ParseDottedAddress("127.0.0.1"), static_cast<uint16_t>(port_)}, "127.0.0.1", &error);
  ASSERT_TRUE(pieces) << error;
  for (int i = 0; i < kPieces; ++i) ASSERT_EQ(pieces->Send(std::string(30, 'x'), 5000), clientsim::PieceReply::Ok) << i;

  EXPECT_EQ(mallorys("<check_screen> Alice 0"), "rpl:resend");
  EXPECT_EQ(mallorys(clientsim::UpdateLine("Alice", "0")), "rpl:false");
  EXPECT_EQ(alices("<check_screen> Alice " + std::to_string(kPieces * 30)), "rpl:ok") << "nothing moved";
  const long during = ResidentKb();

  EXPECT_EQ(alices(clientsim::UpdateLine("Alice", "0")), "rpl:true");
  const long after = ResidentKb();
  RecordProperty("rss_kb", std::to_string(before) + " " + std::to_string(during) + " " + std::to_string(after));
  EXPECT_GE(during - before, 1536) << "2 MiB held: " << before << " " << during << " kB";
  EXPECT_LE(after - before, (during - before) / 4)
      << "given back: " << before << " " << during << " " << after << " kB";
  EXPECT_EQ(pieces->Send(std::string(30, 'x'), 5000), clientsim::PieceReply::Empty) << "no transfer any more";
}

}  // namespace
