// The remote console client: datagram by datagram against a scripted game
// server, and end to end against the simulated one.
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "support/game_fixture.h"
#include "rcon/rcon_client.h"
#include "base/limits.h"
#include "base/metrics.h"
#include "rcon/rcon_limits.h"
#include "support/scripted_game_server.h"
#include "platform/console.h"
#include "platform/socket.h"
#include "platform/stop_signal.h"

namespace {

using scripted::Answer;
using scripted::ChallengeAnswer;
using scripted::kFF;
using scripted::TArrival;

class ScriptedExchange : public ::testing::Test {
 protected:
  void SetUp() override {
    testenv::ResetProcessFacilities(dir_.Path());
    settings_.RconPort = 27015;
    settings_.RconPass = "secret";
    auto link = std::make_unique<scripted::TScriptedLink>();
    link_ = link.get();
    client_.UseLink(std::move(link));
  }
  // The game server hands out challenge 42 and answers the command with these.
  void Answers(const std::vector<TArrival>& arrivals) {
    link_->After(0, {{ChallengeAnswer("42")}});
    link_->After(1, arrivals);
  }

  testenv::TTempDir dir_;
  SettingsRecord settings_ = testenv::TestSettings();
  TimingRecord timing_ = testenv::TestTiming();
  TRconClient client_{settings_, timing_};
  scripted::TScriptedLink* link_ = nullptr;
};

struct TExchangeCase {
  const char* Name;
  std::vector<TArrival> Before;     // already waiting on the socket
  std::vector<TArrival> Challenge;  // after the challenge request
  std::vector<TArrival> Reply;      // after the command
  RconOutcome Outcome;
  std::string Text;
  size_t Sent;  // datagrams we sent
  const char* Health;
};

constexpr const char* kSilent = "not answering at 127.0.0.1:27015";

// The console lines with the list of causes that follows "not answering at
// <host>:<port>" taken off.
std::vector<std::string> WithoutCauses(std::vector<std::string> lines) {
  for (std::string& line : lines) line = line.substr(0, line.find("; possible causes: "));
  return lines;
}

std::vector<TExchangeCase> ExchangeCases() {
  const std::string late = Answer("\\old\\\\mark\\");
  const std::string full(1399, 'a');
  std::vector<TArrival> splitReversed;
  for (const auto& piece : scripted::SplitPackets(Answer(std::string(1396, 's')), 7)) {
    splitReversed.insert(splitReversed.begin(), TArrival{piece});
  }
  std::vector<TArrival> splitInOrder(splitReversed.rbegin(), splitReversed.rend());
  return {
      {"TextsEndAtTheirFirstNulAndAreJoinedAfter",
       {}, {{ChallengeAnswer("42")}},
       {{Answer("\\h\\\\m\\\\Bob\\\\10.0.")}, {Answer("0.1:27005\\")}},
       RconOutcome::Answered, "\\h\\\\m\\\\Bob\\\\10.0.0.1:27005\\", 2, "answering"},
      {"EmptyAnswerIsTheEmptyText", {}, {{ChallengeAnswer("42")}}, {{kFF + "l" + std::string(2, '\0')}},
       RconOutcome::Answered, "", 2, "answering"},
      {"NothingAfterTheCommandIsNoAnswer", {}, {{ChallengeAnswer("42")}}, {}, RconOutcome::NoAnswer, "", 2,
       kSilent},
      {"RejectEndsTheExchange", {}, {{ChallengeAnswer("42")}}, {{scripted::Reject("Bad challenge.\n")}},
       RconOutcome::Rejected, "", 2, "rejects our challenge"},
      {"SplitPacketsInOrder", {}, {{ChallengeAnswer("42")}}, splitInOrder, RconOutcome::Answered,
       std::string(1396, 's'), 2, "answering"},
      {"SplitPacketsReversed", {}, {{ChallengeAnswer("42")}}, splitReversed, RconOutcome::Answered,
       std::string(1396, 's'), 2, "answering"},
      {"IncompleteSplitSetIsDropped", {}, {{ChallengeAnswer("42")}}, {splitInOrder.front()}, RconOutcome::NoAnswer,
       "", 2, kSilent},
      {"StrayDatagramsAreSkipped", {},
       {{ChallengeAnswer("99"), scripted::OtherPort()}, {ChallengeAnswer("42")}},
       {{Answer("stray"), scripted::OtherPort()}, {"garbage"}, {Answer("mine")}},
       RconOutcome::Answered, "mine", 2, "answering"},
      {"LateDatagramOfAnEarlierExchangeIsDrained", {{late}, {ChallengeAnswer("7")}}, {{ChallengeAnswer("42")}},
       {{Answer("now")}}, RconOutcome::Answered, "now", 2, "answering"},
      {"LostChallengeSendsNoCommand", {}, {}, {{Answer("never")}}, RconOutcome::NoChallenge, "", 1, kSilent},
      {"OnlyChallengeRconDigitsCounts", {},
       {{kFF + "challenge rcon \n" + std::string(1, '\0')}, {kFF + "challenge rcon 12ab\n"}}, {},
       RconOutcome::NoChallenge, "", 1, kSilent},
      {"BanNoticeInsteadOfAChallenge", {},
       {{kFF + "lYou have been banned from this server.\n" + std::string(1, '\0')}}, {}, RconOutcome::Banned, "", 1,
       "has banned our address"},
      {"AtMostEightDatagramsAreJoined", {}, {{ChallengeAnswer("42")}},
       std::vector<TArrival>(9, TArrival{Answer(full)}), RconOutcome::Answered, [&] {
         std::string eight;
         for (int i = 0; i < 8; ++i) eight += full;
         return eight;
       }(),
       2, "answering"},
  };
}

TEST_F(ScriptedExchange, EachRuleOfTheExchange) {
  for (const TExchangeCase& c : ExchangeCases()) {
    SCOPED_TRACE(c.Name);
    auto link = std::make_unique<scripted::TScriptedLink>();
    scripted::TScriptedLink& script = *link;
    TRconClient client(settings_, timing_);
    client.UseLink(std::move(link));
    for (const TArrival& arrival : c.Before) script.QueueNow(arrival);
    script.After(0, c.Challenge);
    script.After(1, c.Reply);
    platform::TConsoleCapture console;
    const RconResult result = client.Exchange("zelk_stat 1");
    EXPECT_EQ(result.Outcome, c.Outcome);
    EXPECT_EQ(result.Text, c.Text);
    ASSERT_EQ(script.Sent.size(), c.Sent);
    EXPECT_EQ(script.Sent[0], kFF + "challenge rcon");
    if (c.Sent > 1) {
      EXPECT_EQ(script.Sent[1], kFF + "rcon 42 \"secret\" zelk_stat 1");
    }
    // The first exchange always says the game server's health.
    ASSERT_FALSE(console.Lines().empty());
    EXPECT_EQ(WithoutCauses(console.Lines()).back(), std::string("Game server health: ") + c.Health);
    EXPECT_EQ(console.Lines().size(), c.Outcome == RconOutcome::Rejected ? 2u : 1u);
  }
}

TEST_F(ScriptedExchange, FailuresReadAsSinwAndTheRejectIsSaid) {
  Answers({{scripted::Reject("Bad challenge.\n")}});
  platform::TConsoleCapture console;
  EXPECT_EQ(client_.Command("status"), "sinw");
  EXPECT_EQ(client_.Command("status"), "sinw") << "no challenge answer";
  EXPECT_EQ(WithoutCauses(console.Lines()),
            (std::vector<std::string>{"ERROR: CS server rejected our rcon challenge: Bad challenge.",
                                      "Game server health: rejects our challenge",
                                      "Game server health: not answering at 127.0.0.1:27015"}));
  // Silence looks the same whatever its cause; the line names each one.
  for (const char* cause : {"down or restarting", "rconhost or rconport", "firewall", "180 rcon datagrams a minute",
                            "another rcon tool"}) {
    EXPECT_NE(console.Lines().back().find(cause), std::string::npos) << cause;
  }
}

TEST_F(ScriptedExchange, HealthIsSaidOnlyWhenItChanges) {
  const std::vector<std::string> answers = {"Bad rcon_password.\n", "Bad rcon_password.\n", "x", "y"};
  for (size_t k = 0; k < answers.size(); ++k) {
    link_->After(2 * static_cast<int>(k), {{ChallengeAnswer("42")}});
    link_->After(2 * static_cast<int>(k) + 1, {{Answer(answers[k])}});
  }
  platform::TConsoleCapture console;
  for (size_t k = 0; k < answers.size(); ++k) client_.Command("status");
  EXPECT_EQ(console.Lines(), (std::vector<std::string>{"Game server health: refuses our rcon password",
                                                       "Game server health: answering"}));
  EXPECT_EQ(client_.Health(), RconHealth::Answering);
  EXPECT_NE(testenv::ReadFile(dir_.Path() + "logs/zelk_logs.txt").find(" : Game server health: answering\r\n"),
            std::string::npos);
}

// A refusal is a failure; an answer ends a run of them; the third in a row
// stops every send, so the game server never bans our address.
TEST_F(ScriptedExchange, ThreeRefusalsInARowStopEverySend) {
  const std::vector<std::string> answers = {"Bad rcon_password.\n", "Bad rcon_password.\n", "x",
                                            "Bad rcon_password.\n", "Bad rcon_password.\n", "Bad rcon_password.\n"};
  for (size_t k = 0; k < answers.size(); ++k) {
    link_->After(2 * static_cast<int>(k), {{ChallengeAnswer("42")}});
    link_->After(2 * static_cast<int>(k) + 1, {{Answer(answers[k])}});
  }
  const uint64_t failures = Metrics.RconFailures;
  platform::TConsoleCapture console;
  for (size_t k = 0; k < answers.size(); ++k) {
    EXPECT_EQ(client_.Exchange("status").Outcome, answers[k] == "x" ? RconOutcome::Answered : RconOutcome::Refused);
    EXPECT_EQ(client_.Withholding(), k + 1 == answers.size()) << k;
  }
  EXPECT_EQ(Metrics.RconFailures, failures + 5);
  const size_t sent = link_->Sent.size();
  EXPECT_EQ(client_.Exchange("status").Outcome, RconOutcome::Withheld);
  EXPECT_EQ(client_.Command("status"), "sinw");
  EXPECT_EQ(link_->Sent.size(), sent) << "nothing more goes out";
  EXPECT_EQ(client_.Health(), RconHealth::RefusesPassword);
  EXPECT_EQ(testenv::CountOf(testenv::ReadFile(dir_.Path() + "logs/zelk_logs.txt"),
                             "acserver stops asking the game server: fix rconpass and restart"),
            1);
}

TEST_F(ScriptedExchange, OnlyAFullDatagramIsFollowedByALongerWait) {
  Answers({{Answer(std::string(1200, 'a'))}, {Answer("tail")}});
  EXPECT_EQ(client_.Command("status"), std::string(1200, 'a') + "tail");
  // Waits: the drain, the challenge, the first answer, after the full one,
  // after the short one.
  ASSERT_EQ(link_->WaitsMs.size(), 5u);
  EXPECT_EQ(link_->WaitsMs[0], 0);
  EXPECT_GT(link_->WaitsMs[3], timing_.RconGraceMs);
  EXPECT_LE(link_->WaitsMs[3], timing_.RconMoreMs) << "a real engine sends the rest back to back";
  EXPECT_LE(link_->WaitsMs[4], timing_.RconGraceMs);
}

TEST_F(ScriptedExchange, UnresolvableHostFailsWithCodeTwo) {
  settings_.RconHost = "cs.example.invalid";
  platform::SetResolverForTesting([](const std::string&, std::string* error) -> std::optional<uint32_t> {
    if (error) *error = "no such host";
    return std::nullopt;
  });
  platform::TConsoleCapture console;
  const std::string result = client_.Command("zelk_stat 1");
  platform::SetResolverForTesting(nullptr);
  EXPECT_EQ(result, "sinw");
  EXPECT_EQ(WithoutCauses(console.Lines()),
            (std::vector<std::string>{"ERROR: CS server is not available.Code 2",
                                      "Game server health: not answering at cs.example.invalid:27015"}));
  EXPECT_TRUE(link_->Sent.empty());
}

// A name look-up that lasts until the test lets it end.
std::promise<void>* lookUpEntered = nullptr;
std::shared_future<void> lookUpRelease;

TEST_F(ScriptedExchange, ASlowNameLookUpHoldsNoOtherCaller) {
  std::promise<void> entered;
  std::promise<void> release;
  lookUpEntered = &entered;
  lookUpRelease = release.get_future().share();
  platform::SetResolverForTesting([](const std::string&, std::string* error) -> std::optional<uint32_t> {
    lookUpEntered->set_value();
    lookUpRelease.wait();
    if (error) *error = "no such host";
    return std::nullopt;
  });
  platform::TConsoleCapture console;
  auto command = std::async(std::launch::async, [this] { return client_.Command("status"); });
  entered.get_future().wait();
  auto health = std::async(std::launch::async, [this] { return client_.Health(); });
  const bool healthAnswered = health.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
  release.set_value();
  EXPECT_TRUE(healthAnswered) << "the client's lock was held during the look-up";
  EXPECT_EQ(command.get(), "sinw");
  platform::SetResolverForTesting(nullptr);
  EXPECT_TRUE(console.Contains("ERROR: CS server is not available.Code 2"));
}

TEST_F(ScriptedExchange, CommandTooLongForTheGameServerIsNotSent) {
  Answers({{Answer("never")}});
  platform::TConsoleCapture console;
  EXPECT_EQ(client_.Command("amx_tsay green " + std::string(500, 'a')), "");
  EXPECT_TRUE(console.ContainsPrefix("ERROR: CS server command of "));
  EXPECT_EQ(link_->Sent, std::vector<std::string>{kFF + "challenge rcon"});
}

TEST_F(ScriptedExchange, NoExchangeStartsAfterAStopRequest) {
  platform::RequestStop();
  EXPECT_EQ(client_.Exchange("zelk_stat 1").Outcome, RconOutcome::Stopped);
  EXPECT_TRUE(link_->Sent.empty());
}

using RconAgainstSimulator = GameFixture;

TEST_F(RconAgainstSimulator, ChallengeAndQuotedPasswordWithBlanksReachTheCommand) {
  settings_.RconPass = "pass word";
  sim_.SetPassword("pass word");
  TServer& server = Server();
  platform::TConsoleCapture console;
  EXPECT_EQ(server.RconCommand("amx_tsay green hi"), "Counter-Strike 1.6 Server :  hi\n");
  const auto datagrams = sim_.Datagrams();
  ASSERT_EQ(datagrams.size(), 2u);
  EXPECT_EQ(datagrams[0], kFF + "challenge rcon");
  EXPECT_EQ(datagrams[1],
            kFF + "rcon " + std::to_string(sim_.ChallengeFor("127.0.0.1")) + " \"pass word\" amx_tsay green hi");
  EXPECT_EQ(console.Lines(), std::vector<std::string>{"Game server health: answering"});
}

TEST_F(RconAgainstSimulator, SilentServerGetsNoCommandAndOneHealthLine) {
  sim_.SetSilent(true);
  TServer& server = Server();
  platform::TConsoleCapture console;
  EXPECT_EQ(server.RconCommand("zelk_stat 1"), "sinw");
  EXPECT_EQ(WithoutCauses(console.Lines()),
            std::vector<std::string>{"Game server health: not answering at 127.0.0.1:" +
                                     std::to_string(settings_.RconPort)});
  EXPECT_FALSE(sim_.WaitForDatagrams(2, 200)) << "no command with an empty challenge";
}

TEST_F(RconAgainstSimulator, AStopEndsTheWaitAndSendsNoCommand) {
  timing_.RconWaitMs = 5000;  // long enough that only the stop can end it in time
  sim_.SetSilent(true);
  TServer& server = Server();
  auto exchange = std::async(std::launch::async, [&] { return server.RconCommand("zelk_stat 1"); });
  ASSERT_TRUE(sim_.WaitForDatagrams(1, 5000)) << "the challenge request went out";
  platform::RequestStop();
  ASSERT_EQ(exchange.wait_for(std::chrono::seconds(2)), std::future_status::ready);
  EXPECT_EQ(exchange.get(), "");
  EXPECT_FALSE(sim_.WaitForDatagrams(2, 100)) << "no command datagram";
}

TEST(KickComment, TooLongCommentIsReportedAtStartUp) {
  testenv::TTempDir dir;
  testenv::ResetProcessFacilities(dir.Path());
  SettingsRecord settings = testenv::TestSettings();
  platform::TConsoleCapture console;
  CheckKickCommentFits(settings);
  EXPECT_TRUE(console.Lines().empty()) << "the default comment fits";
  settings.Comment = std::string(460, 'c');
  CheckKickCommentFits(settings);
  EXPECT_TRUE(console.ContainsPrefix("ATTENTION!!! : Comment is too long for a kick"));
}

// With appeal_url the kick of a ban names it: the reason is cut, never the
// URL, so that the whole text fits what the game server executes and shows
// (kicked by name it shows four bytes of quotes more). A URL that cannot fit
// is left out, with the texts as they were, and said once at start.
TEST(KickComment, BanKickCarriesTheAppealUrlWholeOrLeavesItOut) {
  testenv::TTempDir dir;
  testenv::ResetProcessFacilities(dir.Path());
  SettingsRecord settings = testenv::TestSettings();
  const std::string plain = "kick #9 ZELK anticheat: banned for 30 minutes. Reason: aim";
  EXPECT_EQ(BanKickCommand(settings, "Bob", 9, "banned for 30 minutes", "aim", 30), plain) << "no appeal_url";
  settings.AppealUrl = "https://bans.example.org/bans";
  EXPECT_EQ(BanKickCommand(settings, "Bob", 9, "banned for 30 minutes", "aim\"x", 30),
            "kick #9 Banned: aim'x (30 minutes left). Appeal: https://bans.example.org/bans");
  EXPECT_EQ(BanKickCommand(settings, "Bob", 0, "banned permamently", "", 0),
            "kick \"Bob\" \"Banned (for ever). Appeal: https://bans.example.org/bans\"");
  // A reason of 300 bytes, and one of two-byte characters: the text shown
  // is 255 bytes at most, ends with the URL, and cuts no character in two.
  const std::string head = "kick #9 ";
  const std::string byUserId = BanKickCommand(settings, "Bob", 9, "", std::string(300, 'r'), 30);
  EXPECT_EQ(byUserId.size() - head.size(), kKickTextChars) << byUserId;
  EXPECT_TRUE(byUserId.ends_with("rrr (30 minutes left). Appeal: https://bans.example.org/bans")) << byUserId;
  std::string cyrillic;
  for (int i = 0; i < 150; ++i) cyrillic += "\xD0\x98";
  const std::string byName = BanKickCommand(settings, "Bob", 0, "", cyrillic, 30);
  const size_t text = std::string("kick \"Bob\" \"").size();
  EXPECT_LE(byName.size() - text - 1 + 4, kKickTextChars) << byName;
  EXPECT_TRUE(byName.ends_with("\xD0\x98 (30 minutes left). Appeal: https://bans.example.org/bans\"")) << byName;
  platform::TConsoleCapture console;
  CheckAppealUrlFits(settings);
  EXPECT_TRUE(console.Lines().empty());
  settings.AppealUrl = "https://bans.example.org/" + std::string(220, 'p');
  EXPECT_FALSE(AppealUrlFits(settings));
  EXPECT_EQ(BanKickCommand(settings, "Bob", 9, "banned for 30 minutes", "aim", 30), plain);
  CheckAppealUrlFits(settings);
  EXPECT_TRUE(console.ContainsPrefix("ATTENTION!!! : appeal_url is too long for the kick of a ban (by "))
      << ::testing::PrintToString(console.Lines());
}

}  // namespace
