// The real acserver beside a real game server (ReHLDS, built by the EngineBuild
// fixture): health, supervision from the engine's own status, the whole ban
// chain, a status longer than one datagram, and the engine's own ban of an
// address that sends wrong passwords. The main loop runs on a short tick
// (ACSERVER_TICK_MS: a supervision run every 30 ticks), paced to stay under
// half the engine's limit of connectionless datagrams (kPacedTickMs).
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <regex>
#include <set>
#include <thread>

#include "base/limits.h"
#include "base/settings.h"
#include "clientsim/client_sim.h"
#include "engine/engine_suite.h"

namespace enginetest {
namespace {

bool Lists(const std::string& status, const std::string& name) {
  for (const auto& [listed, userId] : StatusPlayers(status)) {
    if (listed == name) return true;
  }
  return false;
}

using EngineHealth = TEngineSuite<8>;

TEST_F(EngineHealth, AnsweringThenNotAnsweringWhileStoppedThenAnsweringAfterTheRestart) {
  TAcserver server(Engine().Port(), kPassword, kPacedTickMs);
  ASSERT_TRUE(server.Process().WaitForOutput("Game server health: answering", kWaitMs)) << server.Process().Output();
  TRconProbe probe(Engine().Port());
  const std::string before = probe.Challenge();

  Engine().Stop();
  ASSERT_TRUE(server.Process().WaitForOutput(
      "Game server health: not answering at 127.0.0.1:" + std::to_string(Engine().Port()), kWaitMs))
      << server.Process().Output();
  std::string error;
  ASSERT_TRUE(Engine().Start(&error)) << error;
  EXPECT_NE(probe.Challenge(), before) << "a restarted engine hands out a new challenge";
  EXPECT_TRUE(server.Process().WaitForOutput("Game server health: answering", kWaitMs, 2)) << server.Process().Output();
}

TEST_F(EngineHealth, WrongPasswordIsRefusedAndCounted) {
  TAcserver server(Engine().Port(), "not-" + kPassword, kPacedTickMs);
  ASSERT_TRUE(server.Process().WaitForOutput("Game server health: refuses our rcon password", kWaitMs))
      << server.Process().Output();
  const std::regex failures(R"(\nacserver_rcon_failures_total (\d+)\n)");
  std::smatch match;
  const std::string metrics = server.Get("/metrics");
  ASSERT_TRUE(std::regex_search(metrics, match, failures)) << metrics;
  EXPECT_GT(std::stoi(match[1]), 0);
}

using EngineRconBan = TEngineSuite<8>;

// 20 supervision periods (10 minutes at the real 30 s) with a wrong password:
// acserver stops after three refusals, so the engine never bans its address.
TEST_F(EngineRconBan, TenMinutesWithAWrongPasswordNeverGetOurAddressBanned) {
  constexpr int kTickMs = 20;
  TAcserver server(Engine().Port(), "not-" + kPassword, kTickMs);
  ASSERT_TRUE(server.Process().WaitForOutput("acserver stops asking the game server: fix rconpass and restart", kWaitMs))
      << server.Process().Output();
  std::this_thread::sleep_for(std::chrono::milliseconds(20 * 30 * kTickMs));
  TRconProbe other(Engine().Port(), "127.0.0.2");
  const std::string banned = other.Text(kPassword, "listip");
  EXPECT_NE(banned.find("IP filter list"), std::string::npos) << banned;
  EXPECT_EQ(banned.find("127.0.0.1"), std::string::npos) << banned;
  TRconProbe ours(Engine().Port());
  EXPECT_EQ(ours.Text(kPassword, "echo still-welcome"), "still-welcome \n");
}

using EngineSupervision = TEngineSuite<8>;

TEST_F(EngineSupervision, BotsStayAndAPlayerWithoutAClientIsKickedByUserId) {
  TRconProbe admin(Engine().Port(), "127.0.0.3");
  admin.Text(kPassword, "addbot Nitro");
  admin.Text(kPassword, "addbot \"Dima^8^zombie\"");
  TAcserver server(Engine().Port(), kPassword, kPacedTickMs, "\"comment\" \"Get the client\"\n\"startup_grace\" \"0\"\n");
  {
    TFakePlayerLoop player(Engine().Port(), "127.0.0.20", "Pavel");
    // The engine also drops the player by itself about 2.3 s after the spawn
    // ("Reliable channel overflowed"); a kick is told apart by its reason.
    // By userid the player reads the clean comment; by name it would start with `" "`.
    ASSERT_TRUE(Engine().WaitForOutput("Dropped Pavel from server\nReason:  Kicked :Get the client\n", 60000))
        << server.Process().Output() << Engine().Output();
    player.Stop();
  }
  EXPECT_TRUE(server.Process().WaitForOutput("Kicked \"Pavel\" (127.0.0.20): no anti-cheat client", kWaitMs));
  const std::string status = admin.Text(kPassword, "status");
  EXPECT_FALSE(Lists(status, "Pavel")) << status;
  EXPECT_TRUE(Lists(status, "Nitro") && Lists(status, "Dima^8^zombie")) << status;
  const std::string out = server.Process().Output();
  EXPECT_EQ(out.find("Kicked \"Nitro\""), std::string::npos) << out;
  EXPECT_EQ(out.find("Kicked \"Dima"), std::string::npos) << out;
}

TEST_F(EngineSupervision, PlayerWithARegisteredClientIsLeftAlone) {
  TAcserver server(Engine().Port(), kPassword, kPacedTickMs);
  ASSERT_TRUE(server.Process().WaitForOutput("Server successfully started", kWaitMs)) << server.Process().Output();
  TLiveClient client(server.CommandPort(), "127.0.0.21", "Carol");
  ASSERT_EQ(client.Accepted.rfind("rpl:accept", 0), 0u) << clientsim::PrintableReply(client.Accepted);
  TFakePlayerLoop player(Engine().Port(), "127.0.0.21", "Carol");
  // Seen protected by her client in several supervision runs while the engine lists her.
  const std::regex protectedCarol(R"re("name":"Carol","address":"127\.0\.0\.21"[^}]*"protection":"client")re");
  int seen = 0;
  EXPECT_TRUE(client.KeepAliveUntil(
      [&] { return std::regex_search(server.Get("/api/players"), protectedCarol) && ++seen >= 4; }, 60000))
      << server.Process().Output();
  EXPECT_EQ(server.Process().Output().find("Kicked \"Carol\""), std::string::npos) << server.Process().Output();
  EXPECT_EQ(Engine().Output().find("Dropped Carol from server\nReason:  Kicked"), std::string::npos);
}

using EngineBanChain = TEngineSuite<8>;

// The announcement is longer than the 63 characters the engine's say keeps:
// acserver must split it so that the players read all of it.
TEST_F(EngineBanChain, CheatReportKicksThePlayerAndTheChatHoldsTheWholeAnnouncement) {
  // A reason is one word of the report, at most 64 characters.
  const std::string reason = "aimbot+wallhack(seen:round-3,by-the-client),speedhack;norecoil";
  TAcserver server(Engine().Port(), kPassword, kPacedTickMs, "\"chat_command\" \"say\"\n");
  ASSERT_TRUE(server.Process().WaitForOutput("Server successfully started", kWaitMs)) << server.Process().Output();
  TFakePlayerLoop player(Engine().Port(), "127.0.0.22", "Mallory");
  const std::string kicked = "Dropped Mallory from server\nReason:  Kicked :ZELK anticheat: banned permamently. "
                             "Reason: " + reason;
  // The fake player is listed about 2.3 s of every 4 s and comes back with
  // another userid, so a kick by the userid of the last run may find her
  // gone; then the ban is made again, by another client of hers.
  size_t consoleBefore = 0;
  for (int attempt = 1; attempt <= 3; ++attempt) {
    TLiveClient client(server.CommandPort(), "127.0.0.22", "Mallory", "ID-Mallory-" + std::to_string(attempt));
    ASSERT_EQ(client.Accepted.rfind("rpl:accept", 0), 0u) << clientsim::PrintableReply(client.Accepted);
    ASSERT_TRUE(client.KeepAliveUntil(
        [&] { return server.Get("/api/players").find("\"name\":\"Mallory\"") != std::string::npos; }, 60000))
        << server.Process().Output();
    const std::string before = Engine().Output();
    consoleBefore = before.size();
    ASSERT_TRUE(client.Client().SendLine(clientsim::BanLine("Mallory", reason)));
    ASSERT_TRUE(server.Process().WaitForOutput("User disconnected (BANED) : Mallory", kWaitMs, attempt))
        << server.Process().Output();
    const std::string chat = "<" + kHostname + "> ";
    ASSERT_TRUE(Engine().WaitForOutput(chat, kWaitMs, testenv::CountOf(before, chat) + 1)) << Engine().Output();
    // The last piece of the chat line: the engine prints its rcon command, then the line.
    Engine().WaitForOutput("norecoil\"\n", 10000, testenv::CountOf(before, "norecoil\"\n") + 2);
    if (Engine().Output().find(kicked, consoleBefore) != std::string::npos) break;
  }
  player.Stop();
  EXPECT_NE(Engine().Output().find(kicked, consoleBefore), std::string::npos) << Engine().Output().substr(consoleBefore);
  // Lines are cut at blanks, and a word longer than a line where it must be,
  // so the pieces are compared without their blanks.
  const auto withoutBlanks = [](std::string text) {
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    return text;
  };
  EXPECT_EQ(withoutBlanks(ChatFromConsole(Engine().Output().substr(consoleBefore))),
            withoutBlanks("[ZELK]:\"Mallory\" was banned permamently.Reason: cheat \"" + reason + "\""))
      << Engine().Output().substr(consoleBefore);
}

// With appeal_url the kick of a ban names it, and the engine shows the whole
// text, URL last, though it keeps only 255 bytes of it: the reason gives way.
TEST_F(EngineBanChain, TheKickOfABanShowsTheWholeAppealUrl) {
  const std::string url = "https://bans.example.org/appeals/" + std::string(157, 'a');  // 190 bytes
  const std::string reason = "wallhack-and-aimbot-seen-on-the-demo-of-round-3";
  TAcserver server(Engine().Port(), kPassword, kPacedTickMs, "\"appeal_url\" \"" + url + "\"\n");
  ASSERT_TRUE(server.Process().WaitForOutput("Server successfully started", kWaitMs)) << server.Process().Output();
  TFakePlayerLoop player(Engine().Port(), "127.0.0.23", "Oscar");
  // "Banned: " and " (for ever). Appeal: <url>" leave 255 - 8 - 211 = 36 bytes of the reason.
  const std::string shown = "Banned: " + reason.substr(0, 36) + " (for ever). Appeal: " + url;
  ASSERT_EQ(shown.size(), kKickTextChars);
  const std::string dropped = "Dropped Oscar from server\nReason:  Kicked :";
  // As above: a kick that found the fake player gone is made again.
  size_t consoleBefore = 0;
  for (int attempt = 1; attempt <= 3; ++attempt) {
    TLiveClient client(server.CommandPort(), "127.0.0.23", "Oscar", "ID-Oscar-" + std::to_string(attempt));
    ASSERT_EQ(client.Accepted.rfind("rpl:accept", 0), 0u) << clientsim::PrintableReply(client.Accepted);
    ASSERT_TRUE(client.KeepAliveUntil(
        [&] { return server.Get("/api/players").find("\"name\":\"Oscar\"") != std::string::npos; }, 60000))
        << server.Process().Output();
    const std::string before = Engine().Output();
    consoleBefore = before.size();
    ASSERT_TRUE(client.Client().SendLine(clientsim::BanLine("Oscar", reason)));
    ASSERT_TRUE(Engine().WaitForOutput(dropped, kWaitMs, testenv::CountOf(before, dropped) + 1)) << Engine().Output();
    if (Engine().Output().find(dropped + shown + "\n", consoleBefore) != std::string::npos) break;
  }
  player.Stop();
  EXPECT_NE(Engine().Output().find(dropped + shown + "\n", consoleBefore), std::string::npos)
      << Engine().Output().substr(consoleBefore);
}

using EngineLongStatus = TEngineSuite<32>;

// 32 bots with names of every width and the characters the engine allows:
// status comes as a split packet and a second datagram cut inside a line.
TEST_F(EngineLongStatus, ThirtyTwoBotsAreReadWithEveryNameAndUserId) {
  TRconProbe admin(Engine().Port(), "127.0.0.3");
  std::vector<std::string> names;
  for (int i = 0; i < 32; ++i) {
    std::string name = "Bot" + std::to_string(i);
    if (i % 4 == 1) name += " with; odd: (chars), it's";
    if (i % 4 == 2) name = std::string(31 - name.size(), 'w') + name;  // the longest name the engine keeps
    if (i % 4 == 3) name += " 7 BOT 0 00:01";  // looks like the columns after a name
    names.push_back(name);
    admin.Text(kPassword, "addbot \"" + name + "\"");
  }
  ASSERT_NE(HostnameForSplitStatus(admin, kPassword), "") << "status as a split datagram and one cut inside a line";
  const std::string status = AnswerText(Reassemble(admin.Rcon(kPassword, "status")));
  const auto listed = StatusPlayers(status);
  ASSERT_EQ(listed.size(), 32u) << status;

  TAcserver server(Engine().Port(), kPassword, kPacedTickMs);
  std::string players;
  for (int attempt = 0; attempt < 100 && players.find("Bot31") == std::string::npos; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    players = server.Get("/api/players");
  }
  using TNamesAndIds = std::set<std::pair<std::string, int>>;
  TNamesAndIds seen;
  const std::regex entry(R"re(\{"name":"((?:[^"\\]|\\.)*)","address":"[^"]*","port":\d+,"userid":(\d+),"kind":"bot")re");
  for (std::sregex_iterator it(players.begin(), players.end(), entry), end; it != end; ++it) {
    seen.emplace(std::regex_replace((*it)[1].str(), std::regex(R"(\\(.))"), "$1"), std::stoi((*it)[2]));
  }
  EXPECT_EQ(seen, TNamesAndIds(listed.begin(), listed.end())) << players;
  std::set<std::string> listedNames;
  for (const auto& [name, userId] : listed) listedNames.insert(name);
  EXPECT_EQ(listedNames, std::set<std::string>(names.begin(), names.end()));
  EXPECT_EQ(server.Process().Output().find("Kicked"), std::string::npos) << server.Process().Output();
}

}  // namespace
}  // namespace enginetest
