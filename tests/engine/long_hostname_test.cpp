// Under a long hostname the engine's say keeps fewer than 63 characters of a
// line (124 - H of them): a ban announcement must still reach the chat whole.
#include <algorithm>
#include <thread>

#include "engine/engine_suite.h"

namespace enginetest {
namespace {

using EngineLongHostname = TEngineSuite<8>;

TEST_F(EngineLongHostname, BanAnnouncementReachesTheChatWholeUnderASixtyFourCharacterHostname) {
  std::string hostname = "My CS Server | public | de_dust2 only | ";
  hostname += std::string(64 - hostname.size(), 'x');
  TRconProbe admin(Engine().Port(), "127.0.0.3");
  admin.Text(kPassword, "hostname \"" + hostname + "\"");
  ASSERT_EQ(admin.Text(kPassword, "hostname"), "\"hostname\" is \"" + hostname + "\"\n");

  // One word of the report, as a client sends it.
  const std::string reason = "wallhack.detected.by.module.seven/build-2231";
  TAcserver server(Engine().Port(), kPassword, kPacedTickMs, "\"chat_command\" \"say\"\n");
  ASSERT_TRUE(server.Process().WaitForOutput("Server successfully started", kWaitMs)) << server.Process().Output();
  TLiveClient client(server.CommandPort(), "127.0.0.71", "Mallory");
  ASSERT_EQ(client.Accepted.rfind("rpl:accept", 0), 0u) << clientsim::PrintableReply(client.Accepted);
  TFakePlayerLoop player(Engine().Port(), "127.0.0.71", "Mallory");
  ASSERT_TRUE(client.KeepAliveUntil(
      [&] { return server.Get("/api/players").find("\"name\":\"Mallory\"") != std::string::npos; }, 60000))
      << server.Process().Output();

  const size_t consoleBefore = Engine().Output().size();
  ASSERT_TRUE(client.Client().SendLine(clientsim::BanLine("Mallory", reason)));
  ASSERT_TRUE(server.Process().WaitForOutput("User disconnected (BANED) : Mallory", kWaitMs))
      << server.Process().Output();
  ASSERT_TRUE(Engine().WaitForOutput("<" + hostname + "> ", kWaitMs)) << Engine().Output();
  // The lines go out one rcon command each; give the last ones time to come.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  player.Stop();
  const auto withoutBlanks = [](std::string text) {
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    return text;
  };
  const std::string chat = ChatFromConsole(Engine().Output().substr(consoleBefore), hostname);
  EXPECT_NE(withoutBlanks(chat).find(withoutBlanks("cheat \"" + reason + "\"")), std::string::npos)
      << chat << "\n" << Engine().Output().substr(consoleBefore);
}

}  // namespace
}  // namespace enginetest
