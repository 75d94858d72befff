// Players with registered clients on a real game server are never kicked when
// the engine lists them under another name than their clients announce, when
// acserver restarts under them, or when the map changes.
#include <chrono>
#include <memory>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "engine/engine_suite.h"

namespace enginetest {
namespace {

using Clock = std::chrono::steady_clock;

struct TPlayer {
  std::string Name;     // as the player's game sends it and the client announces it
  std::string Address;  // the loopback address of both
};

// A player on the engine with his client: the fakeplayer loop keeps him
// listed, the client keeps his registration.
struct TProtectedPlayer {
  TPlayer Player;
  std::unique_ptr<TLiveClient> Client;
  std::unique_ptr<TFakePlayerLoop> Loop;
  bool HeardStrue = false;
  int TimesSeenProtected = 0;  // polls of the web console
};

bool ProtectedByClient(const std::string& players, const std::string& address) {
  const std::regex entry("\"address\":\"" + std::regex_replace(address, std::regex(R"(\.)"), R"(\.)") +
                         R"("[^}]*"protection":"client")");
  return std::regex_search(players, entry);
}

class TProtectedPlayers {
 public:
  TProtectedPlayers(TAcserver& server, int enginePort, const std::vector<TPlayer>& players) : server_(server) {
    for (size_t i = 0; i < players.size(); ++i) {
      TProtectedPlayer p{players[i], nullptr, nullptr};
      p.Client = std::make_unique<TLiveClient>(server.CommandPort(), players[i].Address, players[i].Name,
                                               "ID-" + std::to_string(i));
      p.Loop = std::make_unique<TFakePlayerLoop>(enginePort, players[i].Address, players[i].Name, 150);
      players_.push_back(std::move(p));
    }
  }
  std::vector<TProtectedPlayer>& All() { return players_; }
  // New clients, as after a restart of acserver: each connects as soon as it listens.
  void Reconnect() {
    for (size_t i = 0; i < players_.size(); ++i) {
      players_[i].Client.reset();
      players_[i].Client = std::make_unique<TLiveClient>(server_.CommandPort(), players_[i].Player.Address,
                                                         players_[i].Player.Name, "ID-" + std::to_string(i));
      players_[i].HeardStrue = false;
      players_[i].TimesSeenProtected = 0;
    }
  }
  // Updates (screenshots on) every half second and reads the web console
  // until every player was seen protected by his client and heard rpl:strue,
  // and at least minSeconds passed; false after maxSeconds.
  bool KeepAlive(int minSeconds, int maxSeconds) {
    const auto start = Clock::now();
    for (;;) {
      for (TProtectedPlayer& p : players_) p.HeardStrue |= p.Client->Update("1") == "rpl:strue";
      const std::string list = server_.Get("/api/players");
      bool all = true;
      for (TProtectedPlayer& p : players_) {
        if (ProtectedByClient(list, p.Player.Address)) ++p.TimesSeenProtected;
        all = all && p.HeardStrue && p.TimesSeenProtected > 0;
      }
      const auto elapsed = Clock::now() - start;
      if (all && elapsed >= std::chrono::seconds(minSeconds)) return true;
      if (elapsed >= std::chrono::seconds(maxSeconds)) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
  }
  std::string State() {
    std::string state;
    for (const TProtectedPlayer& p : players_) {
      state += p.Player.Address + ": strue " + (p.HeardStrue ? "yes" : "no") + ", seen protected " +
               std::to_string(p.TimesSeenProtected) + ", last reply " + p.Client->LastReply + "\n";
    }
    return state + server_.Get("/api/players");
  }

 private:
  TAcserver& server_;
  std::vector<TProtectedPlayer> players_;
};

// Long enough for several supervision runs (every 30 ticks) after the start-up grace.
constexpr int kSeveralRunsSeconds = 24;

bool EngineKicked(TEngine& engine) { return engine.Output().find("Reason:  Kicked") != std::string::npos; }

using EngineNames = TEngineSuite<8>;

// The engine lists these players rewritten (a full-width ＆), trimmed (the
// inner double blank kept) and cut at 31 bytes (the sixteenth Ж dropped).
TEST_F(EngineNames, PlayersListedUnderRewrittenNamesKeepTheirClients) {
  std::string sixteenZhe;
  for (int i = 0; i < 16; ++i) sixteenZhe += "\xD0\x96";
  TAcserver server(Engine().Port(), kPassword, kPacedTickMs, "\"allow_screens\" \"1\"\n");
  ASSERT_TRUE(server.Process().WaitForOutput("Server successfully started", kWaitMs)) << server.Process().Output();
  TProtectedPlayers players(server, Engine().Port(),
                            {{"Tom&Jerry", "127.0.0.31"}, {"  Two  Spaces", "127.0.0.32"}, {sixteenZhe, "127.0.0.33"}});
  for (TProtectedPlayer& p : players.All()) {
    ASSERT_EQ(p.Client->Accepted.rfind("rpl:accept", 0), 0u) << clientsim::PrintableReply(p.Client->Accepted);
  }
  EXPECT_TRUE(players.KeepAlive(kSeveralRunsSeconds, 120)) << players.State() << server.Process().Output();
  EXPECT_EQ(server.Process().Output().find("Kicked"), std::string::npos) << server.Process().Output();
  EXPECT_FALSE(EngineKicked(Engine())) << Engine().Output();
}

using EngineRestart = TEngineSuite<8>;

// The clients reconnect a fraction of a second after acserver comes back; the
// start-up grace covers the gap, so its first supervision runs kick nobody.
TEST_F(EngineRestart, PlayersWhoseClientsReconnectAfterARestartAreNotKicked) {
  TAcserver server(Engine().Port(), kPassword, kPacedTickMs, "\"allow_screens\" \"1\"\n");
  ASSERT_TRUE(server.Process().WaitForOutput("Server successfully started", kWaitMs)) << server.Process().Output();
  TProtectedPlayers players(server, Engine().Port(), {{"Alice", "127.0.0.41"}, {"Bob", "127.0.0.42"}});
  ASSERT_TRUE(players.KeepAlive(0, 90)) << players.State() << server.Process().Output();
  const std::string before = server.Process().Output();

  server.Restart();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  players.Reconnect();
  for (TProtectedPlayer& p : players.All()) {
    ASSERT_EQ(p.Client->Accepted.rfind("rpl:accept", 0), 0u) << clientsim::PrintableReply(p.Client->Accepted);
  }
  EXPECT_TRUE(players.KeepAlive(kSeveralRunsSeconds, 120)) << players.State() << server.Process().Output();
  EXPECT_EQ(before.find("Kicked"), std::string::npos) << before;
  EXPECT_EQ(server.Process().Output().find("Kicked"), std::string::npos) << server.Process().Output();
  EXPECT_FALSE(EngineKicked(Engine())) << Engine().Output();
}

using EngineMapChange = TEngineSuite<8>;

// The engine drops its bots on the change and lists the players again once
// they have spawned on the new map (spawn count 2).
TEST_F(EngineMapChange, NobodyProtectedIsKickedAcrossAMapChange) {
  TRconProbe admin(Engine().Port(), "127.0.0.3");
  admin.Text(kPassword, "addbot Nitro");
  admin.Text(kPassword, "addbot Zed");
  TAcserver server(Engine().Port(), kPassword, kPacedTickMs, "\"allow_screens\" \"1\"\n");
  ASSERT_TRUE(server.Process().WaitForOutput("Server successfully started", kWaitMs)) << server.Process().Output();
  TProtectedPlayers players(server, Engine().Port(), {{"Carol", "127.0.0.61"}, {"Dave", "127.0.0.62"}});
  ASSERT_TRUE(players.KeepAlive(0, 90)) << players.State() << server.Process().Output();

  admin.Text(kPassword, "changelevel box");
  for (TProtectedPlayer& p : players.All()) p.Loop->SetSpawnCount(2);
  EXPECT_TRUE(Engine().WaitForOutput("Dropping fakeclient on level change", kWaitMs, 2)) << Engine().Output();
  for (TProtectedPlayer& p : players.All()) p.TimesSeenProtected = 0;
  EXPECT_TRUE(players.KeepAlive(kSeveralRunsSeconds, 120)) << players.State() << server.Process().Output();
  EXPECT_EQ(server.Process().Output().find("Kicked"), std::string::npos) << server.Process().Output();
  EXPECT_FALSE(EngineKicked(Engine())) << Engine().Output();
  const std::string status = admin.Text(kPassword, "status");
  EXPECT_EQ(status.find(" BOT "), std::string::npos) << "the engine dropped its bots\n" << status;
}

}  // namespace
}  // namespace enginetest
