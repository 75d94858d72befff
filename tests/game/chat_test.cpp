// Chat lines and ban kicks on a game server with and without the add-ons,
// against a scripted game server.
#include "game/chat.h"

#include <gtest/gtest.h>

#include "base/settings.h"
#include "game/ban_enforcement.h"
#include "game/scripted_game_server.h"
#include "registry/busy_flag.h"
#include "registry/tables.h"
#include "platform/console.h"
#include "support/test_env.h"

namespace {

class ScriptedChat : public ::testing::Test {
 protected:
  void SetUp() override {
    testenv::ResetProcessState(dir_.Path());
    Settings.RconPort = 27015;
    Settings.RconPass = "pw";
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
    rcon_.UseLink(std::move(link));
    return script;
  }
  static std::vector<std::string> Commands(const scripted::TScriptedLink& script) {
    const std::string prefix = scripted::kFF + "rcon 42 \"pw\" ";
    std::vector<std::string> commands;
    for (size_t i = 1; i < script.Sent.size(); i += 2) commands.push_back(script.Sent[i].substr(prefix.size()));
    return commands;
  }

  testenv::TTempDir dir_;
  TRconClient rcon_;
};

TEST_F(ScriptedChat, AutoFallsBackToSayOnceTheAddonAnswersNothing) {
  scripted::TScriptedLink& script = Script("");
  platform::TConsoleCapture console;
  SayInGame(rcon_, "green", "hello");
  SayInGame(rcon_, "red", "again");
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
    Settings.ChatCommandMode = c.Mode;
    ResetChatForTesting();
    scripted::TScriptedLink& script = Script(c.Answer);
    SayInGame(rcon_, "green", "hello");
    SayInGame(rcon_, "green", "hello");
    EXPECT_EQ(Commands(script), c.Sent);
  }
}

TEST_F(ScriptedChat, BanOfAPlayerFromTheStatusListKicksByUserid) {
  Settings.ChatCommandMode = ChatCommand::Say;
  {
    TBusyGuard busy;
    AddClient("Nitro", "id-1", "176.32.12.6");
    AddPlayer("Nitro", "176.32.12.6", 27005, 305);
  }
  scripted::TScriptedLink& script = Script("");
  TBusyGuard busy;
  ASSERT_TRUE(EnforceBan(rcon_, "Nitro", "176.32.12.6", "aim", 30));
  EXPECT_EQ(Commands(script),
            (std::vector<std::string>{"kick #305 ZELK anticheat: banned for 30 minutes. Reason: aim",
                                      "say [ZELK]:\"Nitro\" was banned for 30 minutes.Reason: cheat \"aim\""}));
}

}  // namespace
