// Ban enforcement at the server-object level, against the simulated game server.
#include <gtest/gtest.h>

#include "channel/client_commands.h"
#include "bans/ban_base.h"
#include "supervision/ban_enforcement.h"
#include "support/game_fixture.h"
#include "platform/console.h"
#include "platform/files.h"
#include "registry/tables.h"

namespace {

const std::string kHeaders =
    ";ATTENTION! Do not change this file. Changes can damage the ban base!  Tormud 2006\r\n"
    ";\xC2\xCD\xC8\xCC\xC0\xCD\xC8\xC5! \xCD\xE5 \xE8\xE7\xEC\xE5\xED\xFF\xE9\xF2\xE5 \xE4\xE0\xED\xED\xFB\xE9 "
    "\xF4\xE0\xE9\xEB. \xC8\xE7\xEC\xE5\xED\xE5\xED\xE8\xFF \xEC\xEE\xE3\xF3\xF2 \xEF\xEE\xE2\xF0\xE5\xE4\xE8\xF2\xFC "
    "\xE1\xE0\xE7\xF3 \xE1\xE0\xED\xEE\xE2!  Tormud 2006\r\n";

class BanEnforcementTest : public GameFixture {
 protected:
  // A client with its player on the game server, as after connect and a poll.
  void Present(const TBusyGuard& busy, const std::string& name, const std::string& identifier) REQUIRES(busy.Flag()) {
    AddClient(busy, name, identifier, "10.0.0.5");
    AddPlayer(busy, name, "10.0.0.5", 27005);
    auto players = sim_.Players();
    players.push_back({name, "10.0.0.5:27005"});
    sim_.SetPlayers(players);
  }
  std::string Base() const { return testenv::ReadFile(dir_.Path() + "zelk_bans.txt"); }
};

TEST_F(BanEnforcementTest, BanKicksAnnouncesLogsAndRecords) {
  TServer& server = Server();
  TBusyGuard busy(Server().Tables);
  Present(busy, "Bob", "ID-1");
  Present(busy, "Ann", "ID-2");
  platform::TConsoleCapture console;
  ASSERT_TRUE(server.EnforceBan(busy, "Bob", "10.0.0.9", "aim\";\nquit", 30));

  // The reason's quote and line break cannot reach the game server's parser.
  EXPECT_EQ(sim_.Commands(),
            (std::vector<std::string>{"kick \"Bob\" \"ZELK anticheat: banned for 30 minutes. Reason: aim';quit\"",
                                      "amx_tsay red [ZELK]:\"Bob\" was banned for 30 minutes.Reason: cheat \"aim';quit\""}));
  ASSERT_EQ(sim_.Kicks().size(), 1u);
  EXPECT_TRUE(sim_.Kicks()[0].Found);
  EXPECT_TRUE(console.Contains("User disconnected (BANED) : Bob"));
  // The log line has the reason without its line break, which would forge a line.
  EXPECT_NE(
      FullLog().find(" : banned for 30 minutes : Bob; with ip: 10.0.0.9; with ID: ID-1; reason: aim\";quit\r\n"),
      std::string::npos);
  EXPECT_EQ(FindClientByName(busy, "Bob"), 0);
  EXPECT_EQ(Base(), kHeaders + "\"30\" \"ID-1\"\r\n");

  ASSERT_TRUE(server.EnforceBan(busy, "Ann", "10.0.0.9", "wallhack", 0));
  EXPECT_EQ(sim_.Kicks()[1].Text, "ZELK anticheat: banned permamently. Reason: wallhack");
  EXPECT_EQ(sim_.Chats()[1], "red [ZELK]:\"Ann\" was banned permamently.Reason: cheat \"wallhack\"");
  EXPECT_EQ(Base(), kHeaders + "\"30\" \"ID-1\"\r\n\"p\" \"ID-2\"\r\n");
  EXPECT_EQ(TBanFile().IsBanned("ID-2"), BanLookup::Banned);
  EXPECT_EQ(TBanFile().IsBanned("id-2"), BanLookup::NotBanned);
}

TEST_F(BanEnforcementTest, AQuoteInTheNameCannotOpenAnotherField) {
  TServer& server = Server();
  TBusyGuard busy(Server().Tables);
  Present(busy, "Eve\" \"x", "ID-3");
  ASSERT_TRUE(server.EnforceBan(busy, "Eve\" \"x", "10.0.0.5", "aim", 30));
  ASSERT_EQ(sim_.Kicks().size(), 1u);
  EXPECT_EQ(sim_.Kicks()[0].Name, "Eve' 'x");
  EXPECT_EQ(sim_.Kicks()[0].Text, "ZELK anticheat: banned for 30 minutes. Reason: aim");
  EXPECT_EQ(sim_.Chats()[0], "red [ZELK]:\"Eve' 'x\" was banned for 30 minutes.Reason: cheat \"aim\"");
}

// An absent player (one still connecting is counted but not listed) changes
// nothing but one full-log line that says why.
TEST_F(BanEnforcementTest, UnknownNameOrAbsentPlayerChangesNothing) {
  TServer& server = Server();
  TBusyGuard busy(Server().Tables);
  AddClient(busy, "Gone", "ID-3", "10.0.0.5");
  EXPECT_FALSE(server.EnforceBan(busy, "Nobody", "10.0.0.9", "aim", 30));
  EXPECT_NE(FullLog().find("ERROR: cannot find user with nickname : \"Nobody\"\r\n"), std::string::npos);
  EXPECT_FALSE(server.EnforceBan(busy, "Gone", "10.0.0.9", "aim", 30));
  EXPECT_NE(FindClientByName(busy, "Gone"), 0);
  EXPECT_NE(FullLog().find("Ban of \"Gone\" not carried out: the player is not in the game server's player list"),
            std::string::npos);
  EXPECT_TRUE(sim_.Datagrams().empty());
  EXPECT_FALSE(platform::FileExists(dir_.Path() + "zelk_bans.txt"));
}

// Between the ban's step on the tables and its record (written after the kick
// and the chat line, without BusyFlag) a connect with the banned identifier is
// refused already; afterwards the base refuses it.
TEST_F(BanEnforcementTest, ConnectWhileTheKickIsOnItsWayIsRefused) {
  settings_.ClientId = "clid";
  TServer& server = Server();
  auto connect = [&server] {
    CommandCall call;
    call.Arguments = {"Bob2", "ID-1", "clid"};
    call.PeerAddress = "10.0.0.6";
    ConnectCmd(server.Tables, server.Settings(), server.Enforcement, call);
    return call.Reply();
  };
  std::optional<TBanKick> kick;
  {
    TBusyGuard busy(Server().Tables);
    Present(busy, "Bob", "ID-1");
    kick = server.Enforcement.TakeBan(busy, "Bob", "10.0.0.9", "aim", 30);
  }
  ASSERT_TRUE(kick);
  EXPECT_FALSE(platform::FileExists(dir_.Path() + "zelk_bans.txt"));
  EXPECT_EQ(connect(), "rpl:ban");
  server.Enforcement.SendBanKick(*kick);
  EXPECT_EQ(Base(), kHeaders + "\"30\" \"ID-1\"\r\n");
  EXPECT_FALSE(server.Enforcement.BanInFlight("ID-1", nullptr));
  EXPECT_EQ(connect(), "rpl:ban");
}

TEST_F(BanEnforcementTest, LongReasonIsCutSoBothCommandsReachTheGameServer) {
  TServer& server = Server();
  TBusyGuard busy(Server().Tables);
  Present(busy, "Bob", "ID-1");
  ASSERT_TRUE(server.EnforceBan(busy, "Bob", "10.0.0.9", std::string(700, 'r'), 30));
  for (const std::string& datagram : sim_.Datagrams()) EXPECT_LE(datagram.size(), 515u);
  ASSERT_EQ(sim_.Kicks().size(), 1u);
  EXPECT_TRUE(sim_.Kicks()[0].Found);
  EXPECT_EQ(sim_.Chats().size(), 1u);
}

}  // namespace
