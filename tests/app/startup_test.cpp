// The real binary: start-up in order, its refusals (arguments, a missing
// configuration, a busy command port, a second server), what it says about the
// game server and its kicks, and the orderly stop.
#include <gtest/gtest.h>

#include <signal.h>

#include <unistd.h>

#include <filesystem>
#include <optional>

#include "clientsim/client_sim.h"
#include "gamesim/game_server_sim.h"
#include "platform/socket.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace {

class Binary : public ::testing::Test {
 protected:
  // Copies the program into the temporary directory, as an admin would install it.
  void SetUp() override {
    std::filesystem::copy_file(ACSERVER_BINARY, dir_.Path() + "acserver");
    registryPort_ = testenv::PickUdpPort();
  }
  std::string Config(int rconPort, const std::string& extra) const {
    return "\"rconhost\" \"127.0.0.1\"\n\"rconport\" \"" + std::to_string(rconPort) +
           "\"\n\"rconpass\" \"secret\"\n\"cl_id\" \"abc\"\n\"registry_host\" \"127.0.0.1:" +
           std::to_string(registryPort_) + "\"\n" + extra;
  }
  testenv::TTempDir dir_;
  int registryPort_ = 0;
};

TEST_F(Binary, MissingConfigurationEndsWithStatusOneAndSaysWhereItLooked) {
  testenv::TChildProcess child(dir_.Path() + "acserver", {}, "/");
  EXPECT_EQ(child.WaitForExit(10000), 1);
  EXPECT_EQ(child.Output(),
            "AntiCheat System \"Varnok\" server v4.0.3\n"
            "ATTENTION!!! : Config file \"zelk_config.txt\" was not found :(\n"
            "Looked for it in " + dir_.Path() + " (the program's directory, or ACSERVER_HOME when set)\n");
}

TEST_F(Binary, ArgumentsAreHelpVersionOrAnError) {
  const struct {
    std::vector<std::string> Args;
    int Status;
    std::string Says;
  } cases[] = {
      {{"--help"}, 0, "ACSERVER_HOME"},
      {{"--version"}, 0, "acserver 4.0.3\n"},
      {{"--verbose"}, 2, "acserver: unknown argument '--verbose'"},
      {{"--help", "x"}, 2, "unknown argument"},
  };
  for (const auto& c : cases) {
    testenv::TChildProcess child(dir_.Path() + "acserver", {}, "/", c.Args);
    EXPECT_EQ(child.WaitForExit(10000), c.Status) << c.Args[0];
    EXPECT_NE(child.Output().find(c.Says), std::string::npos) << child.Output();
    EXPECT_EQ(child.Output().find("AntiCheat System"), std::string::npos) << "the server never starts";
  }
}

TEST_F(Binary, StartsInOrderHidesThePasswordAndSaysWhyItStopped) {
  const int rconPort = testenv::PickRconPort();
  testenv::WriteFile(dir_.Path() + "zelk_config.txt",
                     Config(rconPort, "\"allow_screens\" \"1\"\n\"scr_dir\" \"shots\\\\a\"\n"));
  // Started from another working directory: files are found beside the program.
  testenv::TChildProcess child(dir_.Path() + "acserver", {"LC_ALL=C"}, "/");
  const std::string port = std::to_string(rconPort + 1000);
  ASSERT_TRUE(child.WaitForOutput("Server successfully started and running on ports:(TCP)" + port + ",(UDP)" + port,
                                  15000))
      << child.Output();
  child.Signal(SIGTERM);
  EXPECT_EQ(child.WaitForExit(15000), 0) << child.Output();

  const std::string out = child.Output();
  const std::vector<std::string> inOrder = {"AntiCheat System \"Varnok\" server v4.0.3",
                                            "Rcon host: \"127.0.0.1\"",
                                            "Rcon port: \"" + std::to_string(rconPort) + "\"",
                                            "Rcon pass: \"******\"",
                                            "Comment: \"Download ZELK anticheat from ",
                                            "Client version: \"0.0.0\"",
                                            "ID: abc\n",
                                            "Ban time: for ever\n",
                                            "Screens function: ON",
                                            "Server will take screens every ~12 minutes",
                                            std::string(46, '=') + "\n",
                                            "Server successfully started",
                                            "Server stopped: signal SIGTERM\n"};
  size_t at = 0;
  for (const std::string& piece : inOrder) {
    size_t found = out.find(piece, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << piece << "\n" << out;
    at = found + piece.size();
  }
  EXPECT_EQ(out.find("secret"), std::string::npos) << "the password is never printed";
  const std::string fullLog = testenv::ReadFile(dir_.Path() + "logs/zelk_logs.txt");
  EXPECT_NE(fullLog.find(" : Server stopped: signal SIGTERM\r\n"), std::string::npos) << fullLog;
  EXPECT_TRUE(std::filesystem::exists(dir_.Path() + "logs/zelk_light_logs.txt"));
}

// A stop asked at any moment of start-up (systemd stops a unit whenever it
// likes) ends the program promptly and in order, web console on.
TEST_F(Binary, StopDuringStartUpEndsPromptly) {
  const int rconPort = testenv::PickRconPort();
  const int webPort = testenv::PickRconPort() + 1000;
  testenv::WriteFile(dir_.Path() + "zelk_config.txt",
                     Config(rconPort, "\"web_listen\" \"127.0.0.1:" + std::to_string(webPort) + "\"\n"));
  for (int moment = 0; moment < 20; ++moment) {
    testenv::TChildProcess child(dir_.Path() + "acserver", {}, "/");
    ASSERT_TRUE(child.WaitForOutput("AntiCheat System", 5000));
    usleep(static_cast<useconds_t>(moment * 150000));
    child.Signal(SIGTERM);
    EXPECT_EQ(child.WaitForExit(3000), 0) << "stopped after " << moment * 150 << " ms\n" << child.Output();
  }
}

TEST_F(Binary, UnreadableBanTimeStopsBeforeAnyPort) {
  const int rconPort = testenv::PickRconPort();
  testenv::WriteFile(dir_.Path() + "zelk_config.txt", Config(rconPort, "\"ban_time\" \"30 min\"\n"));
  testenv::TChildProcess child(dir_.Path() + "acserver", {}, "/");
  EXPECT_EQ(child.WaitForExit(10000), 1);
  EXPECT_NE(child.Output().find("zelk_config.txt line 6: \"ban_time\" \"30 min\" is not a whole number of minutes"),
            std::string::npos)
      << child.Output();
  EXPECT_EQ(child.Output().find("successfully started"), std::string::npos);
}

// Also reads its files from ACSERVER_HOME, not from beside the program.
TEST_F(Binary, BusyCommandPortStopsBeforeAnyRemoteConsoleCommand) {
  gamesim::TGameServerSim game;
  game.SetPassword("secret");
  game.SetPlayers({{"Stranger", "10.0.0.9:27005"}});
  std::string error;
  std::optional<platform::TTcpListener> taken;
  for (int attempt = 0; attempt < 20 && !taken; ++attempt) {
    if (!game.Start(static_cast<uint16_t>(testenv::PickRconPort()), &error)) continue;
    taken = platform::TTcpListener::Open(static_cast<uint16_t>(game.Port() + 1000), 1, &error);
    if (!taken) game.Stop();
  }
  ASSERT_TRUE(taken) << error;
  testenv::TTempDir data;
  testenv::WriteFile(data.Path() + "zelk_config.txt", Config(game.Port(), ""));
  testenv::TChildProcess child(dir_.Path() + "acserver", {"ACSERVER_HOME=" + data.Path(), "ACSERVER_TICK_MS=10"},
                               "/");
  EXPECT_EQ(child.WaitForExit(15000), 1) << child.Output();
  const std::string port = std::to_string(game.Port() + 1000);
  EXPECT_NE(child.Output().find("Could not bind TCP port:" + port + "\nbind 0.0.0.0:" + port), std::string::npos)
      << child.Output();
  EXPECT_NE(child.Output().find("The server stops: without its command port"), std::string::npos);
  EXPECT_EQ(child.Output().find("successfully started"), std::string::npos);
  EXPECT_TRUE(game.Datagrams().empty()) << "nothing reached the game server";
  EXPECT_FALSE(std::filesystem::exists(dir_.Path() + "acserver.lock")) << "the data directory is ACSERVER_HOME";
}

TEST_F(Binary, SecondServerInTheSameDirectoryIsRefused) {
  const int rconPort = testenv::PickRconPort();
  testenv::WriteFile(dir_.Path() + "zelk_config.txt", Config(rconPort, ""));
  testenv::TChildProcess first(dir_.Path() + "acserver", {}, "/");
  ASSERT_TRUE(first.WaitForOutput("Server successfully started", 15000)) << first.Output();
  const std::string firstPid = testenv::ReadFile(dir_.Path() + "acserver.lock");

  testenv::TChildProcess second(dir_.Path() + "acserver", {}, "/");
  EXPECT_EQ(second.WaitForExit(10000), 1);
  EXPECT_NE(second.Output().find("Another acserver (process " + firstPid.substr(0, firstPid.size() - 1) +
                                 ") is running with the data directory " + dir_.Path() + "; this one stops"),
            std::string::npos)
      << second.Output();
  EXPECT_EQ(second.Output().find("Could not bind"), std::string::npos) << "refused before it touched a port";

  first.Signal(SIGINT);
  EXPECT_EQ(first.WaitForExit(15000), 0);
  testenv::TChildProcess third(dir_.Path() + "acserver", {}, "/");
  EXPECT_TRUE(third.WaitForOutput("Server successfully started", 15000)) << "the lock went with the first";
}

// Clients reconnect right after a restart, while start-up still waits for a
// silent registry: one accepted then stays registered, and its player is not
// kicked by the first supervision run.
TEST_F(Binary, ClientRegisteredDuringStartUpKeepsItsPlayer) {
  gamesim::TGameServerSim game;
  game.SetPassword("secret");
  game.SetStatusAddon(false);
  game.SetPlayers({{"Alice", "127.0.0.1:27005"}});
  std::string error;
  ASSERT_TRUE(testenv::StartOnRconPort(game, &error)) << error;
  testenv::WriteFile(dir_.Path() + "zelk_config.txt", Config(game.Port(), ""));
  testenv::TChildProcess child(dir_.Path() + "acserver", {}, "/");
  std::optional<clientsim::TClientSim> client;
  for (int attempt = 0; attempt < 100 && !client; ++attempt) {
    client = clientsim::TClientSim::Open("127.0.0.1", game.Port() + 1000, &error);
    if (!client) usleep(20000);
  }
  ASSERT_TRUE(client) << error;
  const std::string accepted = client->Command(clientsim::ConnectLine("Alice", "ID-A", "abc"), 10000).value_or("");
  EXPECT_EQ(accepted.rfind("rpl:accept", 0), 0u) << accepted;
  EXPECT_EQ(child.Output().find("Server successfully started"), std::string::npos) << "still starting";
  // The first run comes right after start-up, past the registry's 3 s wait.
  ASSERT_TRUE(child.WaitForOutput("Game server health: answering", 15000)) << child.Output();
  EXPECT_EQ(client->Command(clientsim::UpdateLine("Alice", "0"), 10000).value_or("").rfind("rpl:", 0), 0u);
  EXPECT_NE(client->Command(clientsim::UpdateLine("Alice", "0"), 10000).value_or(""), "rpl:false") << "still registered";
  child.Signal(SIGTERM);
  EXPECT_EQ(child.WaitForExit(15000), 0);
  EXPECT_TRUE(game.Kicks().empty()) << child.Output();
}

// A wrong password: said once, and after three refusals nothing more is sent,
// so the game server never gets round to banning our address.
TEST_F(Binary, RefusedPasswordIsSaidOnceAndThenNothingIsSent) {
  gamesim::TGameServerSim game;
  game.SetPassword("other");
  std::string error;
  ASSERT_TRUE(testenv::StartOnRconPort(game, &error)) << error;
  testenv::WriteFile(dir_.Path() + "zelk_config.txt", Config(game.Port(), ""));
  // A supervision run every 300 ms.
  testenv::TChildProcess child(dir_.Path() + "acserver", {"ACSERVER_TICK_MS=10"}, "/");
  ASSERT_TRUE(child.WaitForOutput("acserver stops asking the game server: fix rconpass and restart", 15000))
      << child.Output();
  const size_t sent = game.Datagrams().size();
  EXPECT_FALSE(game.WaitForDatagrams(sent + 1, 1500)) << "five more runs send nothing";
  child.Signal(SIGTERM);
  EXPECT_EQ(child.WaitForExit(15000), 0);

  const std::string out = child.Output();
  EXPECT_EQ(testenv::CountOf(out, "Game server health: refuses our rcon password\n"), 1) << "said once, not per run";
  EXPECT_EQ(testenv::CountOf(out, "The game server refused our rcon password 3 times in a row"), 1);
  const std::string fullLog = testenv::ReadFile(dir_.Path() + "logs/zelk_logs.txt");
  EXPECT_NE(fullLog.find(" : Game server health: refuses our rcon password\r\n"), std::string::npos);
  EXPECT_NE(fullLog.find("fix rconpass and restart\r\n"), std::string::npos);
}

TEST_F(Binary, HealthAndKickLinesTellTheAdminWhatHappens) {
  gamesim::TGameServerSim game;
  game.SetPassword("secret");
  game.SetStatusMark("de_dust2");
  game.SetPlayers({{"Stranger", "10.0.0.9:27005"}});
  // A 10 ms tick sends about 10 datagrams a second: on a slow machine this
  // test can outlast the engine's 180 a minute, and silence is what it asserts.
  game.SetRateLimit(0);
  std::string error;
  ASSERT_TRUE(testenv::StartOnRconPort(game, &error)) << error;
  testenv::WriteFile(dir_.Path() + "zelk_config.txt", Config(game.Port(), "\"comment\" \"Get the client\"\n"));
  testenv::TChildProcess child(dir_.Path() + "acserver", {"ACSERVER_TICK_MS=10"}, "/");
  ASSERT_TRUE(child.WaitForOutput("Kicked \"Stranger\" (10.0.0.9): no anti-cheat client, not on the allow-list", 15000))
      << child.Output();
  game.SetSilent(true);
  const std::string silent = "Game server health: not answering at 127.0.0.1:" + std::to_string(game.Port());
  ASSERT_TRUE(child.WaitForOutput(silent, 15000)) << child.Output();
  game.SetSilent(false);
  ASSERT_TRUE(child.WaitForOutput("Game server health: answering", 15000, /*times=*/2)) << child.Output();
  child.Signal(SIGTERM);
  EXPECT_EQ(child.WaitForExit(15000), 0);

  const std::string out = child.Output();
  EXPECT_EQ(testenv::CountOf(out, silent + ";"), 1);
  EXPECT_EQ(testenv::CountOf(out, "Game server health: answering\n"), 2);
  const std::string fullLog = testenv::ReadFile(dir_.Path() + "logs/zelk_logs.txt");
  const std::string shortLog = testenv::ReadFile(dir_.Path() + "logs/zelk_light_logs.txt");
  for (const std::string& log : {fullLog, shortLog}) {
    EXPECT_NE(log.find(" : Kicked \"Stranger\" (10.0.0.9): no anti-cheat client"), std::string::npos) << log;
  }
}

}  // namespace
