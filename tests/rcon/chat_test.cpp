// Chat lines and ban kicks on a game server with and without the add-ons,
// against a scripted game server.
#include "rcon/chat.h"

#include <gtest/gtest.h>

#include "base/limits.h"
#include "base/settings.h"
#include "supervision/server_state.h"
#include "support/scripted_game_server.h"
#include "support/reported_ban.h"
#include "registry/tables.h"
#include "platform/console.h"
#include "support/test_env.h"

namespace {

// Whether the lines hold the whole text: in order, with nothing between or
// around them but the blanks at the cuts.
::testing::AssertionResult HoldsWhole(const std::string& text, const std::vector<std::string>& lines) {
  size_t at = 0;
  for (const std::string& line : lines) {
    while (at < text.size() && text[at] == ' ') ++at;
    if (line.empty() || text.compare(at, line.size(), line) != 0) {
      return ::testing::AssertionFailure() << "\"" << line << "\" is not at " << at << " of \"" << text << "\"";
    }
    at += line.size();
  }
  while (at < text.size() && text[at] == ' ') ++at;
  if (at != text.size()) return ::testing::AssertionFailure() << "lost: \"" << text.substr(at) << "\"";
  return ::testing::AssertionSuccess();
}

TEST(SplitSayText, CutsAtBlanksNeverBeforeAQuoteAndHardCutsLongWords) {
  const struct {
    std::string Text;
    size_t Limit;
    std::vector<std::string> Lines;
  } cases[] = {
      {"", 10, {""}},
      {"fits  exactly", 13, {"fits  exactly"}},
      {"\"quoted\" line that fits", 63, {"\"quoted\" line that fits"}},  // as given: the caller's own quote
      {"one two three four", 9, {"one two", "three", "four"}},
      {"blanks   at    cuts  go", 9, {"blanks", "at", "cuts  go"}},
      {"  leading and trailing  ", 9, {"leading", "and", "trailing"}},
      {"ab cd \"efgh\"", 9, {"ab", "cd \"efgh\""}},  // never before a word that begins with a quote
      {"ab cd //ef", 8, {"ab", "cd //ef"}},            // nor before a comment to the engine
      {"abcdefghijkl", 5, {"abcde", "fghij", "kl"}},
      {"abcd\"efghij", 4, {"abc", "d\"ef", "ghij"}},  // the hard cut goes back one byte before the quote
      {"cheat \"wallhack\"", 9, {"cheat \"wa", "llhack\""}},
      {"ab\xD0\x9F\xD1\x80\xD0\xB8", 5, {"ab\xD0\x9F", "\xD1\x80\xD0\xB8"}},  // never inside a UTF-8 character
      {"\"\"\"\"\"\"", 4, {"\"\"\"\"", "\"\""}},  // nowhere better: at the limit
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    const std::vector<std::string> lines = SplitSayText(c.Text, c.Limit);
    EXPECT_EQ(lines, c.Lines);
    if (lines.size() > 1) {
      EXPECT_TRUE(HoldsWhole(c.Text, lines));
    }
  }
}

TEST(SayTextRoom, FitsStockAndReHldsUnderTheHostnameAboveAFloor) {
  const struct {
    std::string Hostname;
    size_t Room;
  } cases[] = {
      {"My CS Server", 63},
      {std::string(59, 'h'), 63},
      {std::string(60, 'h'), 62},  // stock HLDS: 122 - 60; ReHLDS would keep 64
      {std::string(64, 'h'), 58},
      {"#1 %" + std::string(60, 'h'), 56},  // ReHLDS widens '#' and '%': the second costs 2 more
      {std::string(110, 'h'), kMinSayTextChars},
      {std::string(200, 'h'), kMinSayTextChars},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SayTextRoom(c.Hostname), c.Room) << c.Hostname.size();
  }
  EXPECT_EQ(HostnameInCvarAnswer("\"hostname\" is \"My \"CS\" Server\"\n"), "My \"CS\" Server");
  EXPECT_EQ(HostnameInCvarAnswer("\"hostname\" is \"\"\n"), "");
  EXPECT_FALSE(HostnameInCvarAnswer(""));
  EXPECT_FALSE(HostnameInCvarAnswer("Unknown command: hostname\n"));
}

class ScriptedChat : public ::testing::Test {
 protected:
  void SetUp() override {
    testenv::ResetProcessFacilities(dir_.Path());
    state_.Settings.RconPort = 27015;
    state_.Settings.RconPass = "pw";
    state_.Chat.NoteHostname("My CS Server");  // as the supervision's status list tells it
  }
  // Every command is answered with text (empty: a game server without the
  // chat add-on). Returns the link to read what was sent.
  scripted::TScriptedLink& Script(const std::string& text) {
    auto link = std::make_unique<scripted::TScriptedLink>();
    scripted::TScriptedLink& script = *link;
    for (int k = 0; k < 20; ++k) {
      script.After(2 * k, {{scripted::ChallengeAnswer("42")}});
      script.After(2 * k + 1, {{scripted::Answer(text)}});
    }
    state_.Rcon.UseLink(std::move(link));
    return script;
  }
  static std::vector<std::string> Commands(const scripted::TScriptedLink& script) {
    const std::string prefix = scripted::kFF + "rcon 42 \"pw\" ";
    std::vector<std::string> commands;
    for (size_t i = 1; i < script.Sent.size(); i += 2) commands.push_back(script.Sent[i].substr(prefix.size()));
    return commands;
  }

  testenv::TTempDir dir_;
  TServerState state_{testenv::TestSettings(), testenv::TestTiming()};
};

TEST_F(ScriptedChat, AutoFallsBackToSayOnceTheAddonAnswersNothing) {
  scripted::TScriptedLink& script = Script("");
  platform::TConsoleCapture console;
  state_.Chat.Say("green", "hello");
  state_.Chat.Say("red", "again");
  EXPECT_EQ(Commands(script), (std::vector<std::string>{"amx_tsay green hello", "say hello", "say again"}));
  EXPECT_EQ(console.Lines(), (std::vector<std::string>{"Game server health: answering",
                                                       "Chat lines go out with say (no amx_tsay add-on answered)"}));
}

TEST_F(ScriptedChat, AnsweringAddonAndForcedFormsNeverSwitch) {
  const struct {
    ChatCommand Mode;
    std::string Answer;
    std::vector<std::string> Sent;
  } cases[] = {
      {ChatCommand::Auto, "Server :  hello\n", {"amx_tsay green hello", "amx_tsay green hello"}},
      {ChatCommand::AmxTsay, "", {"amx_tsay green hello", "amx_tsay green hello"}},
      {ChatCommand::Say, "", {"say hello", "say hello"}},
  };
  for (const auto& c : cases) {
    state_.Settings.ChatCommandMode = c.Mode;
    scripted::TScriptedLink& script = Script(c.Answer);
    state_.Chat.Say("green", "hello");
    state_.Chat.Say("green", "hello");
    EXPECT_EQ(Commands(script), c.Sent);
  }
}

TEST_F(ScriptedChat, LongSayLinesGoOutInPiecesAlsoAfterTheFallback) {
  const std::string text = "Download ZELK anticheat from http://zelk.example.net and keep playing on this server";
  scripted::TScriptedLink& script = Script("");
  state_.Chat.Say("green", text);
  EXPECT_EQ(Commands(script),
            (std::vector<std::string>{"amx_tsay green " + text,
                                      "say Download ZELK anticheat from http://zelk.example.net and keep",
                                      "say playing on this server"}));
}

// Without a status list the chat asks the engine's hostname cvar once, and
// cuts its say lines to fit under that; a status list's hostname replaces it.
TEST_F(ScriptedChat, SayLinesFitUnderTheHostnameAskedOnceOrListed) {
  state_.Settings.ChatCommandMode = ChatCommand::Say;
  const std::string hostname(64, 'h');
  auto link = std::make_unique<scripted::TScriptedLink>();
  scripted::TScriptedLink& script = *link;
  script.After(0, {{scripted::ChallengeAnswer("42")}});
  script.After(1, {{scripted::Answer("\"hostname\" is \"" + hostname + "\"\n")}});
  for (int k = 1; k < 20; ++k) {
    script.After(2 * k, {{scripted::ChallengeAnswer("42")}});
    script.After(2 * k + 1, {{scripted::Answer("")}});
  }
  state_.Rcon.UseLink(std::move(link));
  TChat chat(state_.Rcon, state_.Settings);
  // Under 63 bytes a line ends in "build-2231": a 64-byte hostname would show "build".
  const std::string reason = "Reason: module signature of the client did not match build-2231 of this server";
  chat.Say("green", reason);
  chat.Say("green", reason);
  chat.NoteHostname("My CS Server");
  chat.Say("green", reason);
  EXPECT_EQ(Commands(script),
            (std::vector<std::string>{"hostname", "say Reason: module signature of the client did not match",
                                      "say build-2231 of this server",
                                      "say Reason: module signature of the client did not match",
                                      "say build-2231 of this server",
                                      "say Reason: module signature of the client did not match build-2231",
                                      "say of this server"}));
}

TEST_F(ScriptedChat, BanAnnouncedThroughSayReachesPlayersWhole) {
  state_.Settings.ChatCommandMode = ChatCommand::Say;
  const std::string reason = "wallhack.detected.by.module.seven.with.signature.0123456789abcde";
  ASSERT_EQ(reason.size(), kLogFieldChars) << "the longest reason a client's report carries";
  {
    TBusyGuard busy(state_.Tables);
    AddClient(busy, "Nitro", "id-1", "176.32.12.6");
    AddPlayer(busy, "Nitro", "176.32.12.6", 27005, 305);
  }
  scripted::TScriptedLink& script = Script("");
  ASSERT_TRUE(testenv::CarryOutBan(state_, "Nitro", "176.32.12.6", reason, 30));
  const std::vector<std::string> commands = Commands(script);
  ASSERT_EQ(commands.size(), 4u) << ::testing::PrintToString(commands);
  EXPECT_EQ(commands[0], "kick #305 ZELK anticheat: banned for 30 minutes. Reason: " + reason);
  std::vector<std::string> lines;
  for (size_t i = 1; i < commands.size(); ++i) {
    ASSERT_EQ(commands[i].rfind("say ", 0), 0u) << commands[i];
    lines.push_back(commands[i].substr(4));
    EXPECT_LE(lines.back().size(), kSayTextChars) << lines.back();
    EXPECT_NE(lines.back()[0], '"') << "the engine would drop its first and last character";
  }
  EXPECT_TRUE(HoldsWhole("[ZELK]:\"Nitro\" was banned for 30 minutes.Reason: cheat \"" + reason + "\"", lines));
  EXPECT_EQ(lines[0], "[ZELK]:\"Nitro\" was banned for 30 minutes.Reason:");
}

TEST_F(ScriptedChat, BanOfAPlayerFromTheStatusListKicksByUserid) {
  state_.Settings.ChatCommandMode = ChatCommand::Say;
  {
    TBusyGuard busy(state_.Tables);
    AddClient(busy, "Nitro", "id-1", "176.32.12.6");
    AddPlayer(busy, "Nitro", "176.32.12.6", 27005, 305);
  }
  scripted::TScriptedLink& script = Script("");
  ASSERT_TRUE(testenv::CarryOutBan(state_, "Nitro", "176.32.12.6", "aim", 30));
  EXPECT_EQ(Commands(script),
            (std::vector<std::string>{"kick #305 ZELK anticheat: banned for 30 minutes. Reason: aim",
                                      "say [ZELK]:\"Nitro\" was banned for 30 minutes.Reason: cheat \"aim\""}));
}

}  // namespace
