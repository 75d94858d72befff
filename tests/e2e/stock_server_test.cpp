// A ban on a stock game server (no status add-on, no chat add-on) through the
// real program: the player is kicked by userid, and the announcement reaches
// the players as say lines that the engine shows whole (at most 63 characters
// each, none beginning with a quote), together holding the name and the full
// reason.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "clientsim/client_sim.h"
#include "gamesim/game_server_sim.h"
#include "registrysim/registry_sim.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace {

constexpr int kCommandWaitMs = 20000;  // a command may wait behind a supervision run

std::string WithoutBlanks(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
  return text;
}

TEST(StockServerEndToEnd, BanIsAnnouncedInSayLinesShownWhole) {
  const std::string name = "Nitro_the_Wallhacker";
  const std::string reason = "wallhack.detected.by.module.seven.with.signature.0123456789abcde";  // 64 bytes, the most
  testenv::TTempDir dir;
  gamesim::TGameServerSim game;
  registrysim::TRegistrySim registry;
  std::string error;
  game.SetPassword("secret");
  game.SetStatusAddon(false);
  game.SetChatAddon(false);
  ASSERT_TRUE(testenv::StartOnRconPort(game, &error)) << error;
  registry.SetAnswer("ok");
  ASSERT_TRUE(registry.Start(0, &error)) << error;
  testenv::WriteFile(dir.Path() + "zelk_config.txt",
                     "\"rconhost\" \"127.0.0.1\"\n\"rconport\" \"" + std::to_string(game.Port()) +
                         "\"\n\"rconpass\" \"secret\"\n\"cl_id\" \"abc\"\n\"ban_time\" \"30\"\n"
                         "\"registry_host\" \"127.0.0.1:" + std::to_string(registry.Port()) + "\"\n");
  // Declared after the simulators: killed and reaped before they stop.
  testenv::TChildProcess server(ACSERVER_BINARY, {"LC_ALL=C", "ACSERVER_TICK_MS=100", "ACSERVER_HOME=" + dir.Path()},
                                "/");
  ASSERT_TRUE(server.WaitForOutput("Game server health: answering", 15000)) << server.Output();

  auto client = clientsim::TClientSim::Open("127.0.0.1", game.Port() + 1000, &error);
  ASSERT_TRUE(client) << error;
  const std::string accepted = client->Command(clientsim::ConnectLine(name, "ID-NITRO", "abc"), kCommandWaitMs).value_or("");
  ASSERT_EQ(accepted.rfind("rpl:accept", 0), 0u) << clientsim::PrintableReply(accepted);
  game.SetPlayers({{name, "127.0.0.1:27005"}});
  // Until a supervision run has read the player from the engine's status list.
  std::string update;
  for (int i = 0; i < 120 && update != "rpl:strue"; ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(500));
    update = client->Command(clientsim::UpdateLine(name, "1"), kCommandWaitMs).value_or("");
  }
  ASSERT_EQ(update, "rpl:strue") << server.Output();

  ASSERT_EQ(client->Command(clientsim::BanLine(name, reason), kCommandWaitMs), "rpl:true") << server.Output();
  const std::vector<gamesim::TSimKick> kicks = game.Kicks();
  ASSERT_EQ(kicks.size(), 1u);
  EXPECT_TRUE(kicks[0].Found);
  EXPECT_EQ(kicks[0].Shown, "ZELK anticheat: banned for 30 minutes. Reason: " + reason);

  std::vector<std::string> sent;  // the texts of the say commands
  for (const std::string& command : game.Commands()) {
    if (command.rfind("say ", 0) == 0) sent.push_back(command.substr(4));
  }
  const std::vector<gamesim::TSimChat> shown = game.Messages();
  ASSERT_EQ(shown.size(), sent.size());
  std::string together;
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_LE(sent[i].size(), 63u) << sent[i];
    EXPECT_EQ(shown[i].Shown, "<Counter-Strike 1.6 Server> " + sent[i]) << "shown as sent, nothing cut";
    // The advertisement comes every 501 ticks of 100 ms and may fall in here.
    if (sent[i].rfind("This server is using", 0) != 0) together += sent[i];
  }
  EXPECT_EQ(WithoutBlanks(together),
            WithoutBlanks("[ZELK]:\"" + name + "\" was banned for 30 minutes.Reason: cheat \"" + reason + "\""));

  server.Signal(SIGTERM);
  EXPECT_EQ(server.WaitForExit(15000), 0) << server.Output();
}

}  // namespace
