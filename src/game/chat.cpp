#include "game/chat.h"

#include <atomic>

#include "base/settings.h"
#include "platform/console.h"

namespace {

// Set once an amx_tsay came back empty in "auto"; read by any thread.
std::atomic<bool> chatAddonMissing{false};

bool UseSay() {
  switch (Settings.ChatCommandMode) {
    case ChatCommand::Say:
      return true;
    case ChatCommand::AmxTsay:
      return false;
    case ChatCommand::Auto:
      break;
  }
  return chatAddonMissing.load();
}

}  // namespace

std::string ChatCommandText(const std::string& colour, const std::string& text) {
  return UseSay() ? "say " + text : "amx_tsay " + colour + " " + text;
}

void SayInGame(TRconClient& rcon, const std::string& colour, const std::string& text) {
  const bool wasSay = UseSay();
  const RconResult result = rcon.Exchange(ChatCommandText(colour, text));
  if (wasSay || Settings.ChatCommandMode != ChatCommand::Auto) return;
  if (result.Outcome != RconOutcome::Answered || !result.Text.empty()) return;
  if (!chatAddonMissing.exchange(true)) {
    platform::ConsoleLine("Chat lines go out with say (no amx_tsay add-on answered)");
  }
  rcon.Exchange(ChatCommandText(colour, text));
}

void ResetChatForTesting() { chatAddonMissing = false; }
