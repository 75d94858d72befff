#include "rcon/rcon_limits.h"

#include "base/limits.h"
#include "base/settings.h"
#include "rcon/text_fields.h"
#include "platform/console.h"

namespace {

// Four 0xFF bytes, "rcon ", a blank, two quotes and a blank around the challenge
// and the password.
constexpr size_t kDatagramFrameBytes = 13;

}  // namespace

size_t RconDatagramBytes(const SettingsRecord& settings, size_t challengeChars, const std::string& command) {
  return kDatagramFrameBytes + challengeChars + settings.RconPass.size() + command.size();
}

size_t RconCommandRoom(const SettingsRecord& settings) {
  const size_t overhead = RconDatagramBytes(settings, kMaxChallengeChars, std::string());
  return overhead >= kMaxRconDatagramBytes ? 0 : kMaxRconDatagramBytes - overhead;
}

std::string CutToFit(const SettingsRecord& settings, const std::string& prefix, const std::string& text,
                     const std::string& suffix) {
  const size_t room = RconCommandRoom(settings);
  const size_t fixed = prefix.size() + suffix.size();
  if (fixed >= room) return std::string();
  return text.substr(0, room - fixed);
}

std::string SupervisionKickCommand(const SettingsRecord& settings, const std::string& name, int32_t userId) {
  if (userId > 0) return "kick #" + std::to_string(userId) + " " + settings.Comment;
  return "kick \"" + NeutraliseRconText(name) + "\" \"" + settings.Comment + "\"";
}

std::string BanKickCommand(const SettingsRecord& settings, const std::string& name, int32_t userId,
                           const std::string& duration, const std::string& reason) {
  const std::string text = "ZELK anticheat: " + duration + (reason.empty() ? "" : ". Reason: ");
  const std::string safeReason = NeutraliseRconText(reason);
  if (userId > 0) {
    const std::string head = "kick #" + std::to_string(userId) + " " + text;
    return head + CutToFit(settings, head, safeReason, "");
  }
  const std::string head = "kick \"" + NeutraliseRconText(name) + "\" \"" + text;
  return head + CutToFit(settings, head, safeReason, "\"") + "\"";
}

std::string AdminKickCommand(const SettingsRecord& settings, const std::string& name, int32_t userId,
                             const std::string& reason) {
  const std::string safeReason = NeutraliseRconText(reason);
  if (userId > 0) {
    const std::string head = "kick #" + std::to_string(userId) + " ";
    return head + CutToFit(settings, head, safeReason, "");
  }
  const std::string head = "kick \"" + NeutraliseRconText(name) + "\" \"";
  return head + CutToFit(settings, head, safeReason, "\"") + "\"";
}

void CheckKickCommentFits(const SettingsRecord& settings) {
  const std::string longest = SupervisionKickCommand(settings, std::string(kNameChars, 'x'));
  const size_t room = RconCommandRoom(settings);
  if (longest.size() <= room) return;
  platform::ConsoleLine("ATTENTION!!! : Comment is too long for a kick: the game server executes at most " +
                        std::to_string(kMaxRconDatagramBytes) + " bytes; shorten \"comment\" (or \"rconpass\") by " +
                        std::to_string(longest.size() - room) + " characters");
}
