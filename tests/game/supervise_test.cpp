// The supervision cycle against the simulated game server: the player table,
// the kick pass, the status mark, the silence count and the time-outs.
#include <gtest/gtest.h>

#include "game/game_fixture.h"
#include "game/rcon_client.h"
#include "game/scripted_game_server.h"
#include "game/supervise.h"
#include "game/status_mark.h"
#include "platform/console.h"
#include "registry/busy_flag.h"
#include "registry/tables.h"

namespace {

int AddTestClientAt(const std::string& name, const std::string& address) {
  TBusyGuard busy;
  return AddClient(name, "id-" + name, address);
}

class SupervisionTest : public GameFixture {
 protected:
  void AllowFile(const std::string& text) { testenv::WriteFile(dir_.Path() + "allow_connections.txt", text); }
  std::vector<std::string> KickedNames() const {
    std::vector<std::string> names;
    for (const auto& kick : sim_.Kicks()) names.push_back(kick.Name);
    return names;
  }
  static int AddTestClient(const std::string& name, const std::string& address) {
    return AddTestClientAt(name, address);
  }
};

TEST_F(SupervisionTest, KickPassLetsInClientsAndBothAllowListForms) {
  AllowFile("; operators\n\"10.0.*\"\r\n\"192.168.0.9\" \"Ann\" remark\n\"10.0.0.1\" \"x\" \"\n");
  sim_.SetStatusMark("de_dust2");
  sim_.SetPlayers({{"Bob", "10.0.3.4:27005"},
                   {"Eve", "10.1.0.4:27005"},
                   {"Cli", "127.0.0.1:27010"},
                   {"Ann", "192.168.0.9"},
                   {"ann", "192.168.0.9:7x"},
                   {std::string(40, 'L'), "10.2.0.1:1"}});
  const int cli = AddTestClient("Cli", "127.0.0.1");
  TServer& server = Server();
  platform::TConsoleCapture console;
  server.Supervise();

  EXPECT_EQ(KickedNames(), (std::vector<std::string>{"Eve", "ann", std::string(32, 'L')}));
  EXPECT_EQ(sim_.Kicks()[0].Text, Settings.Comment);
  EXPECT_EQ(sim_.Commands()[1], "kick \"Eve\" \"" + Settings.Comment + "\"");
  // Cut to 32 characters, the long name matches no player on the game server.
  EXPECT_FALSE(sim_.Kicks()[2].Found);
  EXPECT_EQ(server.AllowList,
            (std::vector<std::string>{"\"10.0.*\"", "\"192.168.0.9\" \"Ann\" remark"}));
  EXPECT_TRUE(console.Contains("Line loaded: \"10.0.*\""));
  EXPECT_EQ(StatusMark, "de_dust2");
  EXPECT_EQ(PlayerCount, 6);
  EXPECT_EQ(Player(4).Port, 0) << "no colon";
  EXPECT_EQ(Player(5).Port, 0) << "a port that is not a number";
  EXPECT_EQ(Player(1).Port, 27005);
  EXPECT_EQ(Client(cli).MissedUpdates, 1);
  EXPECT_EQ(registry_.Datagrams().size(), 2u) << "start-up and the refresh after the mark changed";
}

TEST_F(SupervisionTest, OnlyAChangedMarkReloadsTheAllowListAndRefreshes) {
  AllowFile("\"*\"\n");
  sim_.SetStatusMark("m1");
  sim_.SetPlayers({{"Eve", "10.1.0.4:27005"}});
  TServer& server = Server();
  server.Supervise();
  EXPECT_TRUE(sim_.Kicks().empty()) << "a lone * lets everybody in";

  AllowFile("\"10.9.9.9\"\n");
  server.Supervise();
  EXPECT_EQ(server.AllowList, std::vector<std::string>{"\"*\""});
  EXPECT_TRUE(sim_.Kicks().empty());
  EXPECT_EQ(registry_.Datagrams().size(), 2u);

  sim_.SetSilent(true);
  server.Supervise();
  EXPECT_EQ(StatusMark, "unknown");
  EXPECT_EQ(PlayerCount, 1) << "a silent server leaves the last good list";

  sim_.SetSilent(false);
  server.Supervise();
  EXPECT_EQ(server.AllowList, std::vector<std::string>{"\"10.9.9.9\""});
  EXPECT_EQ(KickedNames(), std::vector<std::string>{"Eve"});
  EXPECT_EQ(registry_.Datagrams().size(), 3u);
}

TEST_F(SupervisionTest, SilentClientIsDroppedInTheFourthCompleteRunAndKickedInTheFifth) {
  sim_.SetStatusMark("m");
  sim_.SetPlayers({{"Cli", "127.0.0.1:27010"}});
  const int cli = AddTestClient("Cli", "127.0.0.1");
  TServer& server = Server();
  for (int run = 1; run <= 3; ++run) server.Supervise();
  sim_.SetSilent(true);
  server.Supervise();  // no good answer: not counted
  sim_.SetSilent(false);
  EXPECT_EQ(Client(cli).MissedUpdates, 3);

  platform::TConsoleCapture console;
  server.Supervise();
  EXPECT_FALSE(Client(cli).InUse);
  EXPECT_TRUE(console.Contains("Disconnected: Cli ;Reason: Time out"));
  EXPECT_TRUE(console.Contains("total players online: 0"));
  EXPECT_NE(ShortLog().find(" : Disconnected: Cli ;Reason: Time out\r\n"), std::string::npos);
  EXPECT_TRUE(sim_.Kicks().empty()) << "checked in the kick pass before the time-out";

  server.Supervise();
  EXPECT_EQ(KickedNames(), std::vector<std::string>{"Cli"});
}

TEST_F(SupervisionTest, PlayersBeyondTheTableAreLoggedAndLeftAlone) {
  AllowFile("\"10.0.0.1\"\n");
  std::vector<gamesim::TSimPlayer> players;
  for (int i = 1; i <= 35; ++i) players.push_back({"P" + std::to_string(i), "10.0.0.1:" + std::to_string(i)});
  players.back().Address = "10.6.6.6:1";
  sim_.SetPlayers(players);
  sim_.SetStatusMark("full");
  Server().Supervise();
  EXPECT_EQ(PlayerCount, 33);
  EXPECT_EQ(testenv::CountOf(FullLog(), "ERROR: cannot add CS Server user\r\n"), 2);
  EXPECT_TRUE(sim_.Kicks().empty()) << "P35 did not fit the table, so is not checked";
}

TEST_F(SupervisionTest, OddFieldCountEndsTheRunWithAnEmptyTable) {
  sim_.SetOutput("zelk_stat", "\\host\\\\m\\\\Bob\\");
  const int cli = AddTestClient("Cli", "127.0.0.1");
  {
    TBusyGuard busy;
    AddPlayer("Old", "10.0.0.1", 1);
  }
  Server().Supervise();
  EXPECT_EQ(PlayerCount, 0);
  EXPECT_EQ(StatusMark, "m");
  EXPECT_EQ(Client(cli).MissedUpdates, 0);
  EXPECT_TRUE(sim_.Kicks().empty());
}

}  // namespace

namespace {

// Supervision runs over the answers of a scripted game server, as a real one
// cuts them across datagrams.
class ScriptedSupervision : public ::testing::Test {
 protected:
  void SetUp() override {
    testenv::ResetProcessState(dir_.Path());
    Settings.RconPort = 27015;
  }
  // One run whose status answer arrives as these datagrams; the commands sent
  // after it (the kicks).
  std::vector<std::string> RunWith(const std::vector<std::string>& datagrams) {
    auto link = std::make_unique<scripted::TScriptedLink>();
    scripted::TScriptedLink& script = *link;
    script.After(0, {{scripted::ChallengeAnswer("42")}});
    std::vector<scripted::TArrival> arrivals;
    for (const std::string& datagram : datagrams) arrivals.push_back({datagram});
    script.After(1, arrivals);
    for (int n = 2; n < 80; n += 2) script.After(n, {{scripted::ChallengeAnswer("42")}});
    rcon_.UseLink(std::move(link));
    Supervise(rcon_, allowList_, [] {});
    std::vector<std::string> kicks;
    for (size_t i = 3; i < script.Sent.size(); i += 2) kicks.push_back(script.Sent[i].substr(21));
    return kicks;
  }

  testenv::TTempDir dir_;
  TRconClient rcon_;
  std::vector<std::string> allowList_;
};

TEST_F(ScriptedSupervision, AddressCutAcrossDatagramsStillMatchesItsClient) {
  const int cli = AddTestClientAt("Cli", "10.0.0.1");
  const auto kicks = RunWith({scripted::Answer("\\h\\\\m\\\\Cli\\\\10.0."), scripted::Answer("0.1:27005\\")});
  EXPECT_TRUE(kicks.empty());
  EXPECT_EQ(Player(1).Address, "10.0.0.1");
  EXPECT_EQ(Player(1).Port, 27005);
  EXPECT_EQ(Client(cli).MissedUpdates, 1);
}

TEST_F(ScriptedSupervision, EmptyAnswerIsNoAnswer) {
  const int cli = AddTestClientAt("Cli", "10.0.0.1");
  {
    TBusyGuard busy;
    AddPlayer("Old", "10.0.0.9", 1);
  }
  EXPECT_TRUE(RunWith({scripted::Answer("")}).empty());
  EXPECT_EQ(StatusMark, "unknown");
  EXPECT_EQ(PlayerCount, 1) << "the last good list stays";
  EXPECT_EQ(Client(cli).MissedUpdates, 0) << "not a complete run";
}

TEST_F(ScriptedSupervision, ThirtyTwoPlayersInThreeDatagrams) {
  std::string text = "\\Counter-Strike 1.6 Server\\\\de_dust2\\";
  for (int i = 1; i <= 32; ++i) {
    text += "\\" + std::string(31, static_cast<char>('A' + i % 26)) + std::to_string(i % 10) + "\\\\203.0.113." +
            std::to_string(i) + ":27005\\";
  }
  ASSERT_GT(text.size(), 1399u);
  const auto kicks = RunWith({scripted::Answer(text.substr(0, 1000)), scripted::Answer(text.substr(1000, 390)),
                              scripted::Answer(text.substr(1390))});
  EXPECT_EQ(PlayerCount, 32);
  EXPECT_EQ(Player(32).Address, "203.0.113.32");
  EXPECT_EQ(kicks.size(), 32u) << "nobody has a client";
}

}  // namespace
