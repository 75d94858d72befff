// The remote console client against the simulated game server.
#include <gtest/gtest.h>

#include <future>

#include "game/game_fixture.h"
#include "game/rcon_limits.h"
#include "platform/console.h"
#include "platform/socket.h"
#include "platform/stop_signal.h"

namespace {

const std::string kFF = "\xFF\xFF\xFF\xFF";
const std::string kTwoNul(2, '\0');

std::optional<uint32_t> NoSuchHost(const std::string&, std::string* error) {
  if (error) *error = "no such host";
  return std::nullopt;
}

using RconClientTest = GameFixture;

TEST_F(RconClientTest, ChallengeAndQuotedPasswordWithBlanksReachTheCommand) {
  Settings.RconPass = "pass word";
  sim_.SetPassword("pass word");
  TServer& server = Server();
  platform::TConsoleCapture console;
  EXPECT_EQ(server.RconCommand("amx_tsay green hi"), "Counter-Strike 1.6 Server :  hi\n" + kTwoNul);
  const auto datagrams = sim_.Datagrams();
  ASSERT_EQ(datagrams.size(), 2u);
  EXPECT_EQ(datagrams[0], kFF + "challenge rcon");
  EXPECT_EQ(datagrams[1],
            kFF + "rcon " + std::to_string(sim_.ChallengeFor("127.0.0.1")) + " \"pass word\" amx_tsay green hi");
  EXPECT_TRUE(console.Lines().empty());
}

TEST_F(RconClientTest, SilentServerGivesEmptyTextAndNoLine) {
  sim_.SetSilent(true);
  TServer& server = Server();
  platform::TConsoleCapture console;
  EXPECT_EQ(server.RconCommand("zelk_stat 1"), "");
  EXPECT_TRUE(console.Lines().empty());
  // The command still went out, with an empty challenge: "rcon" and two blanks.
  ASSERT_TRUE(sim_.WaitForDatagrams(2, 1000));
  EXPECT_EQ(sim_.Datagrams()[1], kFF + "rcon  \"secret\" zelk_stat 1");
}

TEST_F(RconClientTest, UnresolvableHostFailsWithCodeTwo) {
  TServer& server = Server();
  Settings.RconHost = "cs.example.invalid";
  platform::SetResolverForTesting(NoSuchHost);
  platform::TConsoleCapture console;
  const std::string result = server.RconCommand("zelk_stat 1");
  platform::SetResolverForTesting(nullptr);
  EXPECT_EQ(result, "sinw");
  EXPECT_EQ(console.Lines(), std::vector<std::string>{"ERROR: CS server is not available.Code 2"});
  EXPECT_TRUE(sim_.Datagrams().empty());
}

TEST_F(RconClientTest, FourthAnswerDatagramIsReadByTheNextExchange) {
  const std::string chunk(1399, 'x');
  sim_.SetOutput("longlist", chunk + chunk + chunk + std::string(20, 'x'));
  TServer& server = Server();
  EXPECT_EQ(server.RconCommand("longlist"), chunk + kTwoNul + chunk + kTwoNul + chunk + kTwoNul);

  // The queued fourth datagram (27 bytes) stands in for the challenge answer:
  // after its first 19 bytes, "xxxxx" up to the character before its NUL. The
  // real challenge answer and the game server's reject of the wrong challenge
  // then become the answer texts.
  const std::string challenge = std::to_string(sim_.ChallengeFor("127.0.0.1"));
  EXPECT_EQ(server.RconCommand("zelk_stat 1"),
            "lenge rcon " + challenge + "\n" + std::string(1, '\0') + "lenge.\n" + std::string(1, '\0'));
  EXPECT_EQ(sim_.Datagrams()[3], kFF + "rcon xxxxx \"secret\" zelk_stat 1");
}

TEST_F(RconClientTest, CommandTooLongForTheGameServerIsNotSent) {
  TServer& server = Server();
  platform::TConsoleCapture console;
  EXPECT_EQ(server.RconCommand("amx_tsay green " + std::string(500, 'a')), "");
  EXPECT_TRUE(console.ContainsPrefix("ERROR: CS server command of "));
  EXPECT_EQ(sim_.Datagrams(), std::vector<std::string>{kFF + "challenge rcon"});
}

TEST_F(RconClientTest, NoExchangeStartsAfterAStopRequest) {
  TServer& server = Server();
  platform::RequestStop();
  EXPECT_EQ(server.RconCommand("zelk_stat 1"), "");
  EXPECT_FALSE(sim_.WaitForDatagrams(1, 100));
}

TEST_F(RconClientTest, AStopEndsTheWaitAndSendsNoCommand) {
  Timing.RconWaitMs = 5000;  // long enough that only the stop can end it in time
  sim_.SetSilent(true);
  TServer& server = Server();
  auto exchange = std::async(std::launch::async, [&] { return server.RconCommand("zelk_stat 1"); });
  ASSERT_TRUE(sim_.WaitForDatagrams(1, 5000)) << "the challenge request went out";
  platform::RequestStop();
  ASSERT_EQ(exchange.wait_for(std::chrono::seconds(2)), std::future_status::ready);
  EXPECT_EQ(exchange.get(), "");
  EXPECT_FALSE(sim_.WaitForDatagrams(2, 100)) << "no command datagram with an empty challenge";
}

TEST(KickComment, TooLongCommentIsReportedAtStartUp) {
  testenv::TTempDir dir;
  testenv::ResetProcessState(dir.Path());
  platform::TConsoleCapture console;
  CheckKickCommentFits();
  EXPECT_TRUE(console.Lines().empty()) << "the default comment fits";
  Settings.Comment = std::string(460, 'c');
  CheckKickCommentFits();
  EXPECT_TRUE(console.ContainsPrefix("ATTENTION!!! : Comment is too long for a kick"));
}

}  // namespace
