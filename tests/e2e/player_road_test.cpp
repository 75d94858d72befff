// The whole road of a player through the real program, against the game-server
// and registry simulators: two clients connect and keep sending updates; a
// supervision run kicks the player who has no client and leaves the others
// alone; one client sends a screenshot through a lost piece, cancels a second
// one with an update, then reports a cheat that bans its
// player; the reconnect with the same identifier is refused while the ban base
// counts the ban down, and accepted once the record is gone; the other client
// stays registered through more supervision runs than a silent one survives.
//
// The main loop runs on a 100 ms tick (ACSERVER_TICK_MS), so supervision comes
// every few seconds and maintenance with every second run; the remote
// console's waits stay real, so each exchange takes a little over 2 s.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <cstdlib>
#include <functional>
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

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kCommandWaitMs = 20000;  // a command may wait behind a supervision run and a ban's exchanges
constexpr int kRoadWaitMs = 60000;     // one step of the road: a few supervision runs at most
constexpr auto kUpdateEvery = std::chrono::milliseconds(1000);
const std::string kComment = "Install ZELK first";
const std::string kAcceptHead = "rpl:accept\xFF" "1";  // accepted, screens on

class PlayerRoadEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    // ACSERVER_WINDOWS_EXE names the Windows build's acserver.exe: the same
    // road is then run by it under wine, against the same simulators.
    if (const char* exe = std::getenv("ACSERVER_WINDOWS_EXE"); exe && *exe) {
      fs::copy_file(exe, dir_.Path() + "acserver.exe");
      program_ = {"/usr/bin/wine", {dir_.Path() + "acserver.exe"}};
    } else {
      fs::copy_file(ACSERVER_BINARY, dir_.Path() + "acserver");
      program_ = {dir_.Path() + "acserver", {}};
    }
    std::string error;
    game_.SetPassword("secret");
    game_.SetStatusMark("mark-1");
    // The game server takes RconPort; the program takes RconPort + 1000.
    ASSERT_TRUE(testenv::StartOnRconPort(game_, &error)) << error;
    registry_.SetAnswer("ok");
    ASSERT_TRUE(registry_.Start(0, &error)) << error;
    port_ = game_.Port() + 1000;
    testenv::WriteFile(dir_.Path() + "zelk_config.txt",
                       "\"rconhost\" \"127.0.0.1\"\n\"rconport\" \"" + std::to_string(game_.Port()) +
                           "\"\n\"rconpass\" \"secret\"\n\"cl_id\" \"abc\"\n\"allow_screens\" \"1\"\n"
                           "\"ban_time\" \"2\"\n\"comment\" \"" + kComment + "\"\n\"registry_host\" \"127.0.0.1:" +
                           std::to_string(registry_.Port()) + "\"\n");
  }

  // Connects a client from the given loopback address and registers it.
  std::optional<clientsim::TClientSim> Connect(const std::string& from, const std::string& name,
                                               const std::string& identifier, std::string* reply) {
    std::string error;
    auto client = clientsim::TClientSim::Open("127.0.0.1", port_, &error, from);
    if (!client) {
      *reply = "open failed: " + error;
      return std::nullopt;
    }
    *reply = client->Command(clientsim::ConnectLine(name, identifier, "abc"), kCommandWaitMs).value_or("(none)");
    return client;
  }

  int SupervisionRuns() const {
    const std::vector<std::string> commands = game_.Commands();
    return static_cast<int>(std::count(commands.begin(), commands.end(), "zelk_stat 1"));
  }

  // Waits until done() holds, keeping the registered clients alive with an
  // update every second meanwhile. Between checks it waits for the next
  // datagram at the game server (at most 250 ms), the pace of everything the
  // program does there, and drains the program's output.
  bool WaitWhileAlive(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
      if (Clock::now() > deadline) return false;
      if (Clock::now() - lastUpdate_ >= kUpdateEvery) {
        for (auto& [client, name] : alive_) {
          updateReplies_.push_back(client->Command(clientsim::UpdateLine(name, "1"), kCommandWaitMs).value_or("(none)"));
        }
        lastUpdate_ = Clock::now();
      }
      game_.WaitForDatagrams(game_.Datagrams().size() + 1, 250);
      server_->Output();
    }
    return true;
  }

  std::string BanBase() const {
    const std::string path = dir_.Path() + "zelk_bans.txt";
    return fs::exists(path) ? testenv::ReadFile(path) : std::string();
  }

  testenv::TTempDir dir_;
  gamesim::TGameServerSim game_;
  registrysim::TRegistrySim registry_;
  int port_ = 0;
  std::pair<std::string, std::vector<std::string>> program_;  // what runs the program, and its arguments
  std::optional<testenv::TChildProcess> server_;  // declared last: ends before the simulators
  std::vector<std::pair<clientsim::TClientSim*, std::string>> alive_;  // clients to keep alive, by name
  std::vector<std::string> updateReplies_;
  Clock::time_point lastUpdate_;
};

bool HasKickOf(const std::vector<gamesim::TSimKick>& kicks, const std::string& name) {
  return std::any_of(kicks.begin(), kicks.end(), [&](const gamesim::TSimKick& k) { return k.Name == name; });
}

TEST_F(PlayerRoadEndToEnd, ConnectSuperviseScreenshotBanCountDownAndReturn) {
  server_.emplace(program_.first, std::vector<std::string>{"LC_ALL=C", "ACSERVER_TICK_MS=100"}, "/", program_.second);
  ASSERT_TRUE(server_->WaitForOutput("Server successfully started", 15000)) << server_->Output();
  // The tables are reset after that line; the first supervision run comes
  // after the reset, so clients registered from then on stay.
  ASSERT_TRUE(WaitWhileAlive([&] { return SupervisionRuns() >= 1; }, kRoadWaitMs)) << server_->Output();
  EXPECT_TRUE(server_->WaitForOutput("Your server has been successfully added to a ORBANE base.", 1));

  // Connect: Alice from 127.0.0.1, Carol from another machine (127.0.0.2).
  std::string reply;
  auto alice = Connect("", "Alice", "ALICE01", &reply);
  ASSERT_TRUE(alice && reply.rfind(kAcceptHead, 0) == 0) << clientsim::PrintableReply(reply);
  auto carol = Connect("127.0.0.2", "Carol", "CAROL02", &reply);
  ASSERT_TRUE(carol && reply.rfind(kAcceptHead, 0) == 0) << clientsim::PrintableReply(reply);
  alive_ = {{&*alice, "Alice"}, {&*carol, "Carol"}};
  EXPECT_EQ(alice->Command(clientsim::UpdateLine("Alice", "1"), kCommandWaitMs), "rpl:true")
      << "her player is not on the game server yet";

  // Their players join after the clients registered, with one without a client.
  const int runsBeforeJoin = SupervisionRuns();
  game_.SetPlayers({{"Alice", "127.0.0.1:27005"}, {"Carol", "127.0.0.2:27005"}, {"Lonely", "127.0.0.9:27005"}});
  ASSERT_TRUE(WaitWhileAlive([&] { return HasKickOf(game_.Kicks(), "Lonely"); }, kRoadWaitMs)) << server_->Output();
  // The next run starts only after the one that kicked has judged everyone.
  ASSERT_TRUE(WaitWhileAlive([&] { return SupervisionRuns() >= runsBeforeJoin + 2; }, kRoadWaitMs));
  {
    const std::vector<gamesim::TSimKick> kicks = game_.Kicks();
    ASSERT_EQ(kicks.size(), 1u) << "only the player without a client is kicked";
    EXPECT_EQ(kicks[0].Name, "Lonely");
    EXPECT_EQ(kicks[0].Text, kComment);
    EXPECT_TRUE(kicks[0].Found);
  }
  EXPECT_EQ(alice->Command(clientsim::UpdateLine("Alice", "1"), kCommandWaitMs), "rpl:strue")
      << "registered, on the player list, free to send a screenshot";

  // A screenshot from Alice arrives whole, through a piece lost on the way.
  std::string error;
  auto pieces = clientsim::TPieceSender::Open(
      {*platform::ParseDottedAddress("127.0.0.1"), static_cast<uint16_t>(port_)}, "", &error);
  ASSERT_TRUE(pieces) << error;
  const std::string jpeg =
      testenv::ReadFile((fs::path(__FILE__).parent_path().parent_path() / "data" / "screen.jpg").string());
  clientsim::ScreenSendOptions options;
  options.Name = "Alice";
  options.LosePiece = 20;
  auto commands = [&](const std::string& line) { return alice->Command(line, kCommandWaitMs); };
  const clientsim::ScreenSendResult sent = clientsim::SendScreenshot(commands, *pieces, jpeg, options);
  ASSERT_TRUE(sent.Completed) << sent.Error << "\n" << server_->Output();
  EXPECT_EQ(sent.Resends, 1);
  ASSERT_TRUE(server_->WaitForOutput("Screen saved", 10000)) << server_->Output();
  EXPECT_NE(server_->Output().find("Correcting screen\n"), std::string::npos) << "the check found the lost piece";
  const fs::path screens = dir_.Path() + "zelk_screens/127.0.0.1";
  ASSERT_TRUE(fs::is_directory(screens));
  const std::vector<fs::path> files(fs::directory_iterator(screens), fs::directory_iterator{});
  ASSERT_EQ(files.size(), 1u);
  EXPECT_NE(files[0].filename().string().find("^IP^127.0.0.1^ID^ALICE01.jpg"), std::string::npos)
      << files[0].filename();
  EXPECT_EQ(testenv::ReadFile(files[0].string()), jpeg) << "byte-identical";

  // A second transfer, cancelled half-way by "<update>" with state 0.
  EXPECT_EQ(commands("<start_screen> Alice 90"), "rpl:true");
  EXPECT_EQ(pieces->Send(std::string(30, 'x'), 5000), clientsim::PieceReply::Ok);
  EXPECT_EQ(commands(clientsim::UpdateLine("Alice", "0")), "rpl:strue");
  EXPECT_EQ(pieces->Send(std::string(30, 'y'), 5000), clientsim::PieceReply::Empty) << "no transfer any more";
  EXPECT_EQ(commands("<check_screen> Alice 0"), "rpl:ok") << "what had arrived is gone";

  // Alice's client reports a cheat: her player is kicked and the ban announced.
  EXPECT_EQ(alice->Command(clientsim::BanLine("Alice", "aimbot"), kCommandWaitMs), "rpl:true") << server_->Output();
  alive_ = {{&*carol, "Carol"}};
  {
    const std::vector<gamesim::TSimKick> kicks = game_.Kicks();
    ASSERT_EQ(kicks.size(), 2u);
    EXPECT_EQ(kicks[1].Name, "Alice");
    EXPECT_EQ(kicks[1].Text, "ZELK anticheat: banned for 2 minutes. Reason: aimbot");
    EXPECT_TRUE(kicks[1].Found);
    const std::vector<std::string> chats = game_.Chats();
    EXPECT_EQ(std::count(chats.begin(), chats.end(),
                         "red [ZELK]:\"Alice\" was banned for 2 minutes.Reason: cheat \"aimbot\""),
              1)
        << ::testing::PrintToString(chats);
  }
  EXPECT_TRUE(server_->WaitForOutput("User disconnected (BANED) : Alice", 5000));
  EXPECT_EQ(alice->Command(clientsim::UpdateLine("Alice", "1"), kCommandWaitMs), "rpl:false")
      << "the ban removed her client";

  // The ban base: its header, then the record of ban_time minutes, or of one
  // minute less when a maintenance ran since the ban (one comes every few
  // seconds here).
  const std::string base = BanBase();
  const std::string record = "\"2\" \"ALICE01\"\r\n";
  const std::string countedDown = "\"1\" \"ALICE01\"\r\n";
  ASSERT_TRUE(base.size() > record.size() && (base.ends_with(record) || base.ends_with(countedDown))) << base;
  const std::string header = base.substr(0, base.size() - record.size());
  ASSERT_TRUE(header.starts_with(";ATTENTION! Do not change this file.")) << header;

  // The reconnect with the same identifier, under another name, is refused.
  auto again = Connect("", "Alice2", "ALICE01", &reply);
  ASSERT_TRUE(again);
  EXPECT_EQ(reply, "rpl:ban");

  // Maintenance counts the record down to one minute, the ban still holds...
  ASSERT_TRUE(WaitWhileAlive([&] { return BanBase() == header + "\"1\" \"ALICE01\"\r\n"; }, kRoadWaitMs))
      << BanBase();
  EXPECT_EQ(again->Command(clientsim::ConnectLine("Alice", "ALICE01", "abc"), kCommandWaitMs), "rpl:ban");
  // ...then drops it, keeping the header, and she is accepted again.
  ASSERT_TRUE(WaitWhileAlive([&] { return BanBase() == header; }, kRoadWaitMs)) << BanBase();
  reply = again->Command(clientsim::ConnectLine("Alice", "ALICE01", "abc"), kCommandWaitMs).value_or("(none)");
  EXPECT_EQ(reply.rfind(kAcceptHead, 0), 0u) << clientsim::PrintableReply(reply);

  // Carol kept sending updates through more runs than a silent client
  // survives, and was never kicked nor dropped. (The road above takes about
  // that many; when a maintenance came early it took one fewer.)
  EXPECT_TRUE(WaitWhileAlive([&] { return SupervisionRuns() - runsBeforeJoin >= 5; }, kRoadWaitMs));
  EXPECT_FALSE(HasKickOf(game_.Kicks(), "Carol"));
  EXPECT_EQ(carol->Command(clientsim::UpdateLine("Carol", "1"), kCommandWaitMs), "rpl:strue");
  EXPECT_EQ(std::count(updateReplies_.begin(), updateReplies_.end(), "rpl:false"), 0)
      << ::testing::PrintToString(updateReplies_);

  const std::string fullLog = testenv::ReadFile(dir_.Path() + "logs/zelk_logs.txt");
  EXPECT_NE(fullLog.find("banned for 2 minutes : Alice; with ip: 127.0.0.1; with ID: ALICE01; reason: aimbot"),
            std::string::npos)
      << fullLog;

  // Under wine, SIGINT reaches the Windows program as Ctrl-C.
  server_->Signal(program_.second.empty() ? SIGTERM : SIGINT);
  EXPECT_EQ(server_->WaitForExit(15000), 0) << server_->Output();
}

}  // namespace
