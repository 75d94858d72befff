// Two real servers on one shared PostgreSQL base, each beside its own game
// server: an account made with acserver-bans at one logs in to the other's
// web console, and each console lists both servers from their heartbeats.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "gamesim/game_server_sim.h"
#include "support/child_process.h"
#include "support/pg_cluster.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;

struct TCommunityServer {
  testenv::TTempDir Dir;
  gamesim::TGameServerSim Game;
  int WebPort = 0;
  std::optional<testenv::TChildProcess> Process;
};

TEST(SharedCommunity, AnAccountMadeAtOneServerLogsInAtTheOtherWhichListsBoth) {
  testenv::TPgCluster cluster;
  if (!cluster.Unavailable().empty()) GTEST_SKIP() << cluster.Unavailable();
  TCommunityServer servers[2];
  for (TCommunityServer& server : servers) {
    server.Game.SetPassword("secret");
    server.Game.SetRateLimit(0);
    std::string error;
    ASSERT_TRUE(testenv::StartOnRconPort(server.Game, &error)) << error;
    server.WebPort = testenv::PickRconPort() + 1000;
    fs::copy_file(ACSERVER_BINARY, server.Dir.Path() + "acserver");
    testenv::WriteFile(server.Dir.Path() + "zelk_config.txt",
                       "\"rconhost\" \"127.0.0.1\"\n\"rconport\" \"" + std::to_string(server.Game.Port()) +
                           "\"\n\"rconpass\" \"secret\"\n\"cl_id\" \"abc\"\n\"ban_base\" \"" + cluster.Uri() +
                           "\"\n\"web_listen\" \"127.0.0.1:" + std::to_string(server.WebPort) + "\"\n");
    server.Process.emplace(server.Dir.Path() + "acserver", std::vector<std::string>{"ACSERVER_TICK_MS=50"}, "/");
  }
  testenv::TChildProcess tool("/bin/sh", {"ACSERVER_HOME=" + servers[0].Dir.Path()}, "/",
                              {"-c", std::string("echo 'correct horse' | ") + BANS_BINARY + " account add alice owner"});
  ASSERT_EQ(tool.WaitForExit(20000), 0) << tool.Output();

  // Open on loopback until the other server reads the account (within 5 s).
  httplib::Client browser("127.0.0.1", servers[1].WebPort);
  browser.set_basic_auth("alice", "wrong horse");
  int refused = 0;
  for (int tries = 0; tries < 100 && refused != 401; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto answer = browser.Get("/api/servers");
    refused = answer ? answer->status : 0;
  }
  ASSERT_EQ(refused, 401) << servers[1].Process->Output();

  browser.set_basic_auth("alice", "correct horse");
  const std::string one = ":" + std::to_string(servers[0].Game.Port()) + "\"";
  const std::string two = ":" + std::to_string(servers[1].Game.Port()) + "\"";
  std::string body;
  for (int tries = 0; tries < 100; ++tries) {
    const auto answer = browser.Get("/api/servers");
    body = answer ? std::to_string(answer->status) + " " + answer->body : "no answer";
    if (body.find(one) != std::string::npos && body.find(two) != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  ASSERT_EQ(body.rfind("200 ", 0), 0u) << body << "\n" << servers[1].Process->Output();
  EXPECT_NE(body.find(one + ",\"version\""), std::string::npos) << body;
  EXPECT_NE(body.find(two + ",\"version\""), std::string::npos) << body;
  EXPECT_EQ(testenv::CountOf(body, "\"health\":\"answering\""), 2) << body;
  EXPECT_EQ(testenv::CountOf(body, "\"silent\":false"), 2) << body;
  EXPECT_EQ(testenv::CountOf(body, "\"self\":true"), 1) << body;
  EXPECT_NE(body.find("\"error\":null"), std::string::npos) << body;
}

}  // namespace
