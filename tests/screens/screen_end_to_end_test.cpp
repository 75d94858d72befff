// The real program with screenshots on: a client connects over TCP, sends a
// JPEG over UDP with a piece lost on the way, and the file arrives whole; an
// update with state 0 then cancels a second transfer.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>

#include "clientsim/client_sim.h"
#include "clientsim/screen_sender.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;

TEST(ScreenEndToEnd, JpegArrivesWholeThroughALostPieceAndAnUpdateCancels) {
  testenv::TTempDir dir;
  fs::copy_file(ACSERVER_BINARY, dir.Path() + "acserver");
  const int rconPort = testenv::PickRconPort();
  const int port = rconPort + 1000;
  testenv::WriteFile(dir.Path() + "zelk_config.txt",
                     "\"rconhost\" \"127.0.0.1\"\n\"rconport\" \"" + std::to_string(rconPort) +
                         "\"\n\"cl_id\" \"abc\"\n\"allow_screens\" \"1\"\n\"registry_host\" \"127.0.0.1:" +
                         std::to_string(testenv::PickUdpPort()) + "\"\n");
  testenv::TChildProcess server(dir.Path() + "acserver", {"LC_ALL=C"}, "/");
  ASSERT_TRUE(server.WaitForOutput("Server successfully started", 15000)) << server.Output();

  std::string error;
  auto client = clientsim::TClientSim::Open("127.0.0.1", port, &error);
  ASSERT_TRUE(client) << error;
  ASSERT_EQ(client->Command(clientsim::ConnectLine("Bob", "ABC123", "abc"), 15000).value_or("").rfind("rpl:accept", 0),
            0u);
  auto pieces = clientsim::TPieceSender::Open({*platform::ParseDottedAddress("127.0.0.1"), static_cast<uint16_t>(port)},
                                              "", &error);
  ASSERT_TRUE(pieces) << error;
  // Generous: the first supervision run holds BusyFlag while the silent game
  // server's waits run out.
  auto commands = [&](const std::string& line) { return client->Command(line, 15000); };

  const std::string jpeg = testenv::ReadFile((fs::path(__FILE__).parent_path().parent_path() / "data" / "screen.jpg").string());
  clientsim::ScreenSendOptions options;
  options.Name = "Bob";
  options.LosePiece = 20;
  auto result = clientsim::SendScreenshot(commands, *pieces, jpeg, options);
  ASSERT_TRUE(result.Completed) << result.Error << "\n" << server.Output();
  EXPECT_EQ(result.Resends, 1);
  EXPECT_TRUE(server.WaitForOutput("Screen saved", 5000));
  const std::string out = server.Output();
  EXPECT_NE(out.find("Screen transport started.\n"), std::string::npos);
  EXPECT_NE(out.find("Correcting screen\n"), std::string::npos) << "the check found the lost piece";

  const fs::path screens = dir.Path() + "zelk_screens/127.0.0.1";
  ASSERT_TRUE(fs::is_directory(screens));
  std::vector<fs::path> files(fs::directory_iterator(screens), fs::directory_iterator{});
  ASSERT_EQ(files.size(), 1u);
  EXPECT_NE(files[0].filename().string().find("^IP^127.0.0.1^ID^ABC123.jpg"), std::string::npos);
  EXPECT_EQ(testenv::ReadFile(files[0].string()), jpeg) << "byte-identical";

  // A second transfer, cancelled half-way by "<update>" with state 0.
  EXPECT_EQ(commands("<start_screen> Bob 90"), "rpl:true");
  EXPECT_EQ(pieces->Send(std::string(30, 'x'), 5000), clientsim::PieceReply::Ok);
  EXPECT_EQ(commands(clientsim::UpdateLine("Bob", "0")), "rpl:true") << "the player is not on the game server";
  EXPECT_EQ(pieces->Send(std::string(30, 'y'), 5000), clientsim::PieceReply::Empty) << "no transfer any more";
  EXPECT_EQ(commands("<check_screen> Bob 0"), "rpl:ok") << "what had arrived is gone";

  server.Signal(SIGTERM);
  EXPECT_EQ(server.WaitForExit(15000), 0) << server.Output();
}

}  // namespace
