// The supervision cycle against the simulated game server: the player table,
// the kick pass, the status mark, the silence count and the time-outs.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <thread>
#include <utility>

#include "rcon/engine_status.h"
#include "support/game_fixture.h"
#include "rcon/rcon_client.h"
#include "support/scripted_game_server.h"
#include "supervision/supervise.h"
#include "supervision/status_mark.h"
#include "platform/console.h"
#include "support/tables_peek.h"
#include "registry/tables.h"

namespace {

int AddTestClientAt(TTables& tables, const std::string& name, const std::string& address) {
  return testenv::AddClientTo(tables, name, "id-" + name, address);
}

class SupervisionTest : public GameFixture {
 protected:
  void AllowFile(const std::string& text) { testenv::WriteFile(dir_.Path() + "allow_connections.txt", text); }
  std::vector<std::string> KickedNames() const {
    std::vector<std::string> names;
    for (const auto& kick : sim_.Kicks()) names.push_back(kick.Name);
    return names;
  }
  int AddTestClient(const std::string& name, const std::string& address) {
    return AddTestClientAt(Tables(), name, address);
  }
};

TEST_F(SupervisionTest, KickPassLetsInClientsAndBothAllowListForms) {
  AllowFile("; operators\n\"10.0.*\"\r\n\"192.168.0.9\" \"Ann\" remark\n\"10.0.0.1\" \"x\" \"\n");
  sim_.SetStatusMark("de_dust2");
  // Both listed as given: the engine itself would list the second as "(1)ann".
  gamesim::TSimPlayer Ann{"Ann", "192.168.0.9"};
  gamesim::TSimPlayer ann{"ann", "192.168.0.9:7x"};
  Ann.Listed = ann.Listed = true;
  sim_.SetPlayers({{"Bob", "10.0.3.4:27005"},
                   {"Eve", "10.1.0.4:27005"},
                   {"Cli", "127.0.0.1:27010"},
                   Ann,
                   ann,
                   {std::string(40, 'L'), "10.2.0.1:1"}});
  const int cli = AddTestClient("Cli", "127.0.0.1");
  TServer& server = Server();
  platform::TConsoleCapture console;
  server.Supervise();

  // The game server keeps 31 characters of a name, which the kick names whole.
  EXPECT_EQ(KickedNames(), (std::vector<std::string>{"Eve", "ann", std::string(31, 'L')}));
  EXPECT_EQ(sim_.Kicks()[0].Text, settings_.Comment);
  EXPECT_EQ(sim_.Commands()[1], "kick \"Eve\" \"" + settings_.Comment + "\"");
  EXPECT_TRUE(sim_.Kicks()[2].Found);
  EXPECT_NE(FullLog().find(" : Kicked \"Eve\" (10.1.0.4): no anti-cheat client, not on the allow-list\r\n"),
            std::string::npos);
  EXPECT_EQ(server.AllowList,
            (std::vector<std::string>{"\"10.0.*\"", "\"192.168.0.9\" \"Ann\" remark"}));
  EXPECT_TRUE(console.Contains("Line loaded: \"10.0.*\""));
  EXPECT_EQ(Memory().StatusMark, "de_dust2");
  EXPECT_EQ(testenv::PlayerCountOf(Tables()), 6);
  EXPECT_EQ(testenv::PlayerOf(Tables(), 4).Port, 0) << "no colon";
  EXPECT_EQ(testenv::PlayerOf(Tables(), 5).Port, 0) << "a port that is not a number";
  EXPECT_EQ(testenv::PlayerOf(Tables(), 1).Port, 27005);
  EXPECT_EQ(testenv::ClientOf(Tables(), cli).MissedUpdates, 1);
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

  // A failed run keeps the mark: one lost answer reloads and refreshes nothing.
  sim_.SetSilent(true);
  server.Supervise();
  EXPECT_EQ(Memory().StatusMark, "m1");
  EXPECT_EQ(testenv::PlayerCountOf(Tables()), 1) << "a silent server leaves the last good list";

  sim_.SetSilent(false);
  server.Supervise();
  EXPECT_EQ(server.AllowList, std::vector<std::string>{"\"*\""});
  EXPECT_EQ(registry_.Datagrams().size(), 2u);

  sim_.SetStatusMark("m2");
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
  EXPECT_EQ(testenv::ClientOf(Tables(), cli).MissedUpdates, 3);

  platform::TConsoleCapture console;
  server.Supervise();
  EXPECT_FALSE(testenv::ClientOf(Tables(), cli).InUse);
  EXPECT_TRUE(console.Contains("Disconnected: Cli ;Reason: Time out"));
  EXPECT_TRUE(console.Contains("total players online: 0"));
  EXPECT_NE(ShortLog().find(" : Disconnected: Cli ;Reason: Time out\r\n"), std::string::npos);
  EXPECT_TRUE(sim_.Kicks().empty()) << "checked in the kick pass before the time-out";

  server.Supervise();
  EXPECT_EQ(KickedNames(), std::vector<std::string>{"Cli"});
  EXPECT_NE(ShortLog().find(" : Kicked \"Cli\" (127.0.0.1): anti-cheat client went silent, not on the allow-list"),
            std::string::npos);
}

TEST_F(SupervisionTest, PlayersBeyondTheTableAreLoggedAndLeftAlone) {
  AllowFile("\"10.0.0.1\"\n");
  std::vector<gamesim::TSimPlayer> players;
  for (int i = 1; i <= 35; ++i) players.push_back({"P" + std::to_string(i), "10.0.0.1:" + std::to_string(i)});
  players.back().Address = "10.6.6.6:1";
  sim_.SetPlayers(players);
  sim_.SetStatusMark("full");
  Server().Supervise();
  EXPECT_EQ(testenv::PlayerCountOf(Tables()), 33);
  EXPECT_EQ(testenv::CountOf(FullLog(), "ERROR: cannot add CS Server user\r\n"), 2);
  EXPECT_TRUE(sim_.Kicks().empty()) << "P35 did not fit the table, so is not checked";
}

TEST_F(SupervisionTest, OddFieldCountEndsTheRunWithAnEmptyTable) {
  sim_.SetOutput("zelk_stat", "\\host\\\\m\\\\Bob\\");
  const int cli = AddTestClient("Cli", "127.0.0.1");
  {
    TBusyGuard busy(Tables());
    AddPlayer(busy, "Old", "10.0.0.1", 1);
  }
  Server().Supervise();
  EXPECT_EQ(testenv::PlayerCountOf(Tables()), 0);
  EXPECT_EQ(Memory().StatusMark, "m");
  EXPECT_EQ(testenv::ClientOf(Tables(), cli).MissedUpdates, 0);
  EXPECT_TRUE(sim_.Kicks().empty());
}

}  // namespace

namespace {

// Supervision runs over the answers of a scripted game server, as a real one
// cuts them across datagrams.
class ScriptedSupervision : public ::testing::Test {
 protected:
  void SetUp() override {
    testenv::ResetProcessFacilities(dir_.Path());
    settings_.RconPort = 27015;
    settings_.RconPass = "pw";
  }
  TTables& Tables() { return tables_; }
  const TSupervisionMemory& Memory() const { return supervision_.Memory(); }
  // One run; exchange k of the run is answered with the datagrams replies[k]
  // (missing ones with the empty answer). The commands the run sent.
  std::vector<std::string> RunWith(const std::vector<std::vector<std::string>>& replies) {
    auto link = std::make_unique<scripted::TScriptedLink>();
    scripted::TScriptedLink& script = *link;
    for (int k = 0; k < 40; ++k) {
      script.After(2 * k, {{scripted::ChallengeAnswer("42")}});
      std::vector<scripted::TArrival> arrivals;
      if (k < static_cast<int>(replies.size())) {
        for (const std::string& datagram : replies[k]) arrivals.push_back({datagram});
      } else {
        arrivals.push_back({scripted::Answer("")});
      }
      script.After(2 * k + 1, arrivals);
    }
    rcon_.UseLink(std::move(link));
    supervision_.Run(allowList_, [this] { ++markChanges_; });
    std::vector<std::string> commands;
    const std::string prefix = scripted::kFF + "rcon 42 \"pw\" ";
    for (size_t i = 1; i < script.Sent.size(); i += 2) commands.push_back(script.Sent[i].substr(prefix.size()));
    return commands;
  }
  // The same with each answer in one datagram.
  std::vector<std::string> Run(const std::vector<std::string>& answers) {
    std::vector<std::vector<std::string>> replies;
    for (const std::string& answer : answers) replies.push_back({scripted::Answer(answer)});
    return RunWith(replies);
  }

  testenv::TTempDir dir_;
  SettingsRecord settings_ = testenv::TestSettings();
  TimingRecord timing_ = testenv::TestTiming();
  TTables tables_;
  TRconClient rcon_{settings_, timing_};
  TSupervision supervision_{settings_, tables_, rcon_};
  std::vector<std::string> allowList_;
  int markChanges_ = 0;
};

const std::string kStockStatus =
    "hostname:  My CS Server\n"
    "version :  48/1.1.2.7/Stdio 8684 secure  (10)\n"
    "tcp/ip  :  203.0.113.5:27015\n"
    "map     :  de_dust2 at: 0 x, 0 y, 0 z\n"
    "players :  5 active (32 max)\n"
    "\n"
    "#      name userid uniqueid frag time ping loss adr\n"
    "# 1 \"uBaH_KpuBopyKoB\" 319 BOT   6  3:15:46    0    0\n"
    "# 2   \"HLTV\" 12 HLTV hltv:1/128 delay:30  13:10 192.168.1.2:27020\n"
    "# 3 \"Joining\" 330 STEAM_ID_PENDING   0 00:04  999    0\n"
    "# 4  \"Nitro\" 305 STEAM_0:0:785980079   5 02:34   52    0 176.32.12.6:27005\n"
    "# 6 \"Dima \"^8^\" zombie\" 289 STEAM_0:0:225349380   8 06:19    7    0 128.71.75.49:27005\n"
    "5 users\n";

TEST(EngineStatus, PlayersWithAddressesOnlyAndTheMap) {
  const auto status = ParseEngineStatus(kStockStatus);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->Hostname, "My CS Server");
  EXPECT_EQ(status->Map, "de_dust2");
  ASSERT_EQ(status->Players.size(), 2u) << "the bot, the proxy and the joining player are left out";
  EXPECT_EQ(status->Players[0].Name, "Nitro");
  EXPECT_EQ(status->Players[0].UserId, 305);
  EXPECT_EQ(status->Players[0].Address, "176.32.12.6");
  EXPECT_EQ(status->Players[0].Port, 27005);
  EXPECT_EQ(status->Players[1].Name, "Dima \"^8^\" zombie") << "first to last quote";
  EXPECT_FALSE(ParseEngineStatus("Bad rcon_password.\n"));
  EXPECT_FALSE(ParseEngineStatus(""));
}

TEST_F(ScriptedSupervision, AddressCutAcrossDatagramsStillMatchesItsClient) {
  const int cli = AddTestClientAt(tables_, "Cli", "10.0.0.1");
  const auto commands = RunWith({{scripted::Answer("\\h\\\\m\\\\Cli\\\\10.0."), scripted::Answer("0.1:27005\\")}});
  EXPECT_EQ(commands, std::vector<std::string>{"zelk_stat 1"}) << "nobody kicked";
  EXPECT_EQ(testenv::PlayerOf(Tables(), 1).Address, "10.0.0.1");
  EXPECT_EQ(testenv::PlayerOf(Tables(), 1).Port, 27005);
  EXPECT_EQ(testenv::ClientOf(Tables(), cli).MissedUpdates, 1);
}

// A scripted game server that runs onAnswer once its answer to the command
// has been read: the run has its list then, but has not decided its kicks.
class TAnswerHookLink : public scripted::TScriptedLink {
 public:
  std::function<void()> OnAnswer;
  platform::ReceiveStatus Receive(std::string& data, platform::Endpoint& from, int timeoutMs,
                                  std::string* error) override {
    const platform::ReceiveStatus status = TScriptedLink::Receive(data, from, timeoutMs, error);
    if (status == platform::ReceiveStatus::Datagram && data.starts_with(scripted::kFF + "l") && OnAnswer) {
      std::exchange(OnAnswer, nullptr)();
    }
    return status;
  }
};

// The game server's answer is awaited without BusyFlag, and the kicks are
// decided against the tables as they are once it came: a client that
// registers meanwhile protects its player (and is not yet counted silent), and
// a player whose ban kicked it meanwhile is left to the ban.
TEST_F(ScriptedSupervision, ClientRegisteredWhileTheAnswerIsReadProtectsItsPlayer) {
  settings_.StatusQueryMode = StatusQuery::Addon;
  auto link = std::make_unique<TAnswerHookLink>();
  TAnswerHookLink& script = *link;
  script.After(0, {{scripted::ChallengeAnswer("42")}});
  script.After(1, {{scripted::Answer("\\h\\\\m\\\\Late\\\\10.0.0.7:27005\\\\Banned\\\\10.0.0.8:27005\\")}});
  std::future<int> late;
  script.OnAnswer = [this, &late] {
    late = std::async(std::launch::async, [this] {
      TBusyGuard busy(Tables());
      supervision_.NoteBanKick(busy, "Banned");
      return AddClient(busy, "Late", "id-late", "10.0.0.7");
    });
    EXPECT_EQ(late.wait_for(std::chrono::seconds(5)), std::future_status::ready)
        << "BusyFlag is free while the game server answers";
  };
  rcon_.UseLink(std::move(link));
  supervision_.Run(allowList_, [] {});
  EXPECT_EQ(script.Sent.size(), 2u) << "nobody kicked";
  EXPECT_EQ(testenv::PlayerCountOf(Tables()), 2);
  EXPECT_EQ(testenv::ClientOf(Tables(), late.get()).MissedUpdates, 0);
}

TEST_F(ScriptedSupervision, EmptyAddonAnswerIsNoAnswerWithoutTheFallback) {
  settings_.StatusQueryMode = StatusQuery::Addon;
  const int cli = AddTestClientAt(tables_, "Cli", "10.0.0.1");
  {
    TBusyGuard busy(Tables());
    AddPlayer(busy, "Old", "10.0.0.9", 1);
  }
  EXPECT_EQ(Run({""}), std::vector<std::string>{"zelk_stat 1"});
  EXPECT_EQ(Memory().StatusMark, "") << "a failed request keeps the mark";
  EXPECT_EQ(testenv::PlayerCountOf(Tables()), 1) << "the last good list stays";
  EXPECT_EQ(testenv::ClientOf(Tables(), cli).MissedUpdates, 0) << "not a complete run";
}

TEST_F(ScriptedSupervision, StockServerIsReadFromStatusAndKickedByUserid) {
  settings_.Comment = "Get the client";
  AddTestClientAt(tables_, "Dima \"^8^\" zombie", "128.71.75.49");
  platform::TConsoleCapture console;
  EXPECT_EQ(Run({"", kStockStatus}),
            (std::vector<std::string>{"zelk_stat 1", "status", "kick #305 Get the client"}));
  EXPECT_EQ(testenv::PlayerCountOf(Tables()), 2);
  EXPECT_EQ(Memory().StatusMark, "de_dust2");
  EXPECT_EQ(markChanges_, 1);
  EXPECT_EQ(console.Lines(), (std::vector<std::string>{
                                 "Game server health: answering",
                                 "Players are read from the game server's status list (no zelk_stat add-on answered)",
                                 "Kicked \"Nitro\" (176.32.12.6): no anti-cheat client, not on the allow-list"}));

  // The same map: no reload; the line is not said again. Status alone asks
  // only status.
  settings_.StatusQueryMode = StatusQuery::Status;
  EXPECT_EQ(Run({kStockStatus}), (std::vector<std::string>{"status", "kick #305 Get the client"}));
  EXPECT_EQ(markChanges_, 1);
  EXPECT_EQ(console.Lines().size(), 4u) << "one more kick line";

  // The add-on appears: auto reads it, and says so.
  settings_.StatusQueryMode = StatusQuery::Auto;
  EXPECT_EQ(Run({"\\h\\\\de_dust2\\"}), std::vector<std::string>{"zelk_stat 1"});
  EXPECT_EQ(markChanges_, 1) << "the same mark";
  EXPECT_EQ(console.Lines().back(), "Players are read from the zelk_stat add-on");
}

// Bans reach players in every run, whichever path made them: a registered
// client banned meanwhile (its player listed in the engine's own version of
// its name) and a player whose connect was refused for a ban are kicked with
// the ban's time left and reason, even in the startup grace, which holds back
// only the kick of a player without a client. A kick the game server never
// answered is logged as not delivered.
TEST_F(ScriptedSupervision, BansReachPlayersInEveryRunAndTheGraceHoldsBackOnlyTheRest) {
  settings_.StatusQueryMode = StatusQuery::Status;
  const std::string status =
      "hostname:  My CS Server\nmap     :  de_dust2 at: 0 x, 0 y, 0 z\n"
      "#      name userid uniqueid frag time ping loss adr\n"
      "# 1  \"Nitro\" 305 STEAM_0:0:1   5 02:34   52    0 176.32.12.6:27005\n"
      "# 2 \"Tom\xEF\xBC\x86Jerry\" 306 STEAM_0:0:2   5 02:34   52    0 10.0.0.2:27005\n"
      "# 3  \"Mal\" 307 STEAM_0:0:3   5 02:34   52    0 10.0.0.3:27005\n3 users\n";
  const int tom = AddTestClientAt(tables_, "Tom&Jerry", "10.0.0.2");
  supervision_.SetBanCheck([](const std::set<std::string>&) {
    return TBanFindings{{"id-Tom&Jerry", {0, "wallhack"}}, {"id-mal", {25, "aim"}}};
  });
  {
    TBusyGuard busy(Tables());
    supervision_.NoteBanRefusal(busy, "Mal", "10.0.0.3", "id-mal");
  }
  platform::TConsoleCapture console;
  supervision_.BeginStartupGrace(std::chrono::hours(1));
  EXPECT_EQ(RunWith({{scripted::Answer(status)}, {}}),
            (std::vector<std::string>{"status", "kick #306 ZELK anticheat: banned permamently. Reason: wallhack",
                                      "kick #307 ZELK anticheat: banned for 25 minutes. Reason: aim"}));
  EXPECT_FALSE(testenv::ClientOf(Tables(), tom).InUse) << "the banned client goes with its player";
  const std::string log = testenv::ReadFile(dir_.Path() + "logs/zelk_logs.txt");
  EXPECT_NE(log.find("Kick of \"Tom\xEF\xBC\x86Jerry\" (10.0.0.2) not delivered (the game server did not answer)"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Ban refusal: kicked \"Mal\" (10.0.0.3), ID id-mal is banned (25 minutes left): aim"),
            std::string::npos);
  EXPECT_TRUE(console.ContainsPrefix("Startup grace: 1 player without an anti-cheat client left alone until"));

  supervision_.BeginStartupGrace(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(RunWith({{scripted::Answer(status)}}),
            (std::vector<std::string>{"status", "kick #305 " + settings_.Comment,
                                      "kick #306 ZELK anticheat: banned permamently. Reason: wallhack",
                                      "kick #307 ZELK anticheat: banned for 25 minutes. Reason: aim"}))
      << "the undelivered kick comes again, for the ban";
  EXPECT_TRUE(console.Contains("Startup grace over: players without an anti-cheat client are kicked from now on"));
}

TEST_F(ScriptedSupervision, ARefusalOfStatusIsAFailedRequest) {
  settings_.StatusQueryMode = StatusQuery::Status;
  const int cli = AddTestClientAt(tables_, "Cli", "10.0.0.1");
  EXPECT_EQ(Run({"Bad rcon_password.\n"}), std::vector<std::string>{"status"});
  EXPECT_EQ(Memory().StatusMark, "") << "a failed request keeps the mark";
  EXPECT_EQ(testenv::ClientOf(Tables(), cli).MissedUpdates, 0);
}

TEST_F(ScriptedSupervision, ThirtyTwoPlayerStatusInThreeDatagrams) {
  settings_.StatusQueryMode = StatusQuery::Status;
  std::string text = "map     :  de_inferno at: 0 x, 0 y, 0 z\n\n#      name userid uniqueid frag time ping loss adr\n";
  for (int i = 1; i <= 32; ++i) {
    text += "#" + std::string(i < 10 ? " " : "") + std::to_string(i) + " \"" + std::string(25, 'p') +
            std::to_string(i) + "\" " + std::to_string(100 + i) + " STEAM_0:1:" + std::to_string(5000000 + i) +
            "   3 12:34   40    0 203.0.113." + std::to_string(i) + ":27005\n";
  }
  text += "32 users\n";
  ASSERT_GT(text.size(), 2 * 1399u);
  const auto commands = RunWith({{scripted::Answer(text.substr(0, 1399)), scripted::Answer(text.substr(1399, 1399)),
                                  scripted::Answer(text.substr(2798))}});
  EXPECT_EQ(testenv::PlayerCountOf(Tables()), 32);
  EXPECT_EQ(testenv::PlayerOf(Tables(), 32).Address, "203.0.113.32");
  EXPECT_EQ(testenv::PlayerOf(Tables(), 32).UserId, 132);
  EXPECT_EQ(commands.size(), 33u) << "nobody has a client";
}

}  // namespace

namespace {

using StockServerSupervision = GameFixture;

// A game server without any add-on, as the simulator plays it: the engine's
// status list, kicks by userid, chat through say.
TEST_F(StockServerSupervision, PlayersFromStatusKicksByUseridAndChatThroughSay) {
  using gamesim::TSimPlayerKind;
  sim_.SetStatusAddon(false);
  sim_.SetChatAddon(false);
  sim_.SetStatusMark("de_dust2");
  std::vector<gamesim::TSimPlayer> players = {
      {"Cli", "127.0.0.1:27010"},
      {"Stranger", "10.1.0.4:27005", 305},
      {"Bot", "", 0, "", TSimPlayerKind::Bot},
      {"TV", "10.0.0.7:27020", 0, "", TSimPlayerKind::Proxy},
      {"Joining", "", 0, "", TSimPlayerKind::Connecting},
  };
  for (int i = 1; i <= 27; ++i) players.push_back({"Allowed player " + std::to_string(i), "10.9.0.1:1"});
  sim_.SetPlayers(players);
  testenv::WriteFile(dir_.Path() + "allow_connections.txt", "\"10.9.0.1\"\n");
  {
    TBusyGuard busy(Tables());
    AddClient(busy, "Cli", "id-cli", "127.0.0.1");
  }
  TServer& server = Server();
  server.Supervise();
  ASSERT_EQ(sim_.Kicks().size(), 1u);
  EXPECT_EQ(sim_.Kicks()[0].UserId, 305);
  EXPECT_EQ(sim_.Kicks()[0].Shown, settings_.Comment) << "the player sees the clean comment";
  EXPECT_EQ(testenv::PlayerCountOf(Tables()), 29) << "bot, proxy and joining player are not in the table";
  EXPECT_EQ(server.AllowList.size(), 1u);

  // The same map: the allow-list is not read again; a new map reloads it.
  testenv::WriteFile(dir_.Path() + "allow_connections.txt", "\"10.8.*\"\n");
  server.Supervise();
  EXPECT_EQ(server.AllowList, std::vector<std::string>{"\"10.9.0.1\""});
  sim_.SetStatusMark("de_nuke");
  server.Supervise();
  EXPECT_EQ(server.AllowList, std::vector<std::string>{"\"10.8.*\""});
  EXPECT_EQ(Memory().StatusMark, "de_nuke");

  server.Advertise();
  ASSERT_FALSE(sim_.Messages().empty());
  EXPECT_EQ(sim_.Messages().back().Kind, gamesim::TSimChatKind::Say);
  EXPECT_EQ(sim_.Messages().back().Shown, "<Counter-Strike 1.6 Server> " + settings_.AdvertText);
}

}  // namespace
