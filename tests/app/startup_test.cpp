// The real binary: start-up in order, the missing configuration, the orderly stop.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>

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

TEST_F(Binary, MissingConfigurationEndsWithStatusOne) {
  testenv::TChildProcess child(dir_.Path() + "acserver", {}, "/");
  EXPECT_EQ(child.WaitForExit(10000), 1);
  const std::string out = child.Output();
  EXPECT_EQ(out,
            "AntiCheat System \"Varnok\" server v4.0.3\n"
            "ATTENTION!!! : Config file \"zelk_config.txt\" was not found :(\n");
}

TEST_F(Binary, StartsInOrderAndStopsOnSigterm) {
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
                                            "Rcon pass: \"secret\"",
                                            "Comment: \"Download ZELK anticheat from ",
                                            "Client version: \"0.0.0\"",
                                            "ID: abc\n",
                                            "Screens function: ON",
                                            "Server will take screens every ~12 minutes",
                                            std::string(46, '=') + "\n",
                                            "Server successfully started"};
  size_t at = 0;
  for (const std::string& piece : inOrder) {
    size_t found = out.find(piece, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << piece << "\n" << out;
    at = found + piece.size();
  }
  EXPECT_TRUE(std::filesystem::exists(dir_.Path() + "logs/zelk_logs.txt"));
  EXPECT_TRUE(std::filesystem::exists(dir_.Path() + "logs/zelk_light_logs.txt"));
}

// Also reads its files from ACSERVER_HOME, not from beside the program.
TEST_F(Binary, ScreensOffGivesTheSinglePortLineAndABusyPortIsReported) {
  const int rconPort = testenv::PickRconPort();
  std::string error;
  auto taken = platform::TTcpListener::Open(static_cast<uint16_t>(rconPort + 1000), 1, &error);
  ASSERT_TRUE(taken) << error;
  testenv::TTempDir data;
  testenv::WriteFile(data.Path() + "zelk_config.txt", Config(rconPort, ""));
  testenv::TChildProcess child(dir_.Path() + "acserver", {"ACSERVER_HOME=" + data.Path()}, "/");
  const std::string port = std::to_string(rconPort + 1000);
  ASSERT_TRUE(child.WaitForOutput("Server successfully started and running on TCP port:(TCP)" + port, 15000))
      << child.Output();
  EXPECT_NE(child.Output().find("Could not bind TCP port:" + port + "\n"), std::string::npos);
  EXPECT_EQ(child.Output().find("Screens function: ON"), std::string::npos);
  child.Signal(SIGINT);
  EXPECT_EQ(child.WaitForExit(15000), 0) << "the program runs on without its command port";
  EXPECT_TRUE(std::filesystem::exists(data.Path() + "logs/zelk_logs.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir_.Path() + "logs"));
}

}  // namespace
