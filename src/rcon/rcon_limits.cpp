#include "rcon/rcon_limits.h"

#include <algorithm>
#include <climits>

#include "base/limits.h"
#include "base/numbers.h"
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

namespace {

// text without a UTF-8 sequence cut short at its end.
std::string WholeCharacters(std::string text) {
  size_t start = text.size();
  while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) --start;
  if (start == 0) return text;
  const auto lead = static_cast<unsigned char>(text[start - 1]);
  const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  if (lead >= 0xC0 && text.size() - (start - 1) < length) text.resize(start - 1);
  return text;
}

// The kick of a ban that names where to appeal: "Banned: <reason><tail>",
// the reason (neutralised already) cut so that the command fits the datagram
// and the text fits what the game server shows. Kicked by name, the engine
// shows the text with four bytes of quotes around it (`" "<text>"`).
std::string AppealKick(const SettingsRecord& settings, const std::string& name, int32_t userId,
                       const std::string& safeReason, const std::string& tail) {
  const std::string head =
      userId > 0 ? "kick #" + std::to_string(userId) + " " : "kick \"" + NeutraliseRconText(name) + "\" \"";
  const std::string suffix = userId > 0 ? "" : "\"";
  const size_t shownExtra = userId > 0 ? 0 : 4;
  const size_t fixed = std::string("Banned: ").size() + tail.size();
  const size_t commandRoom = RconCommandRoom(settings);
  const size_t commandFixed = head.size() + fixed + suffix.size();
  const size_t room = std::min(commandRoom > commandFixed ? commandRoom - commandFixed : 0,
                               kKickTextChars > fixed + shownExtra ? kKickTextChars - fixed - shownExtra : 0);
  const std::string reason = WholeCharacters(safeReason.substr(0, std::min(room, safeReason.size())));
  return head + (reason.empty() ? "Banned" + tail : "Banned: " + reason + tail) + suffix;
}

std::string AppealTail(const SettingsRecord& settings, int32_t minutesLeft) {
  return " (" + (minutesLeft == 0 ? std::string("for ever") : MinutesText(minutesLeft) + " left") +
         "). Appeal: " + settings.AppealUrl;
}

// How many bytes the worst kick with the appeal URL needs beyond its room (0:
// it fits): a player with the longest name, kicked by name, the longest time
// left, no reason.
size_t AppealUrlExcess(const SettingsRecord& settings) {
  const std::string tail = AppealTail(settings, INT32_MAX);
  const std::string command = AppealKick(settings, std::string(kNameChars, 'x'), 0, "", tail);
  const size_t shown = std::string("Banned").size() + tail.size() + 4;
  const size_t room = RconCommandRoom(settings);
  return std::max(command.size() > room ? command.size() - room : 0,
                  shown > kKickTextChars ? shown - kKickTextChars : 0);
}

}  // namespace

bool AppealUrlFits(const SettingsRecord& settings) {
  return !settings.AppealUrl.empty() && AppealUrlExcess(settings) == 0;
}

void CheckAppealUrlFits(const SettingsRecord& settings) {
  if (settings.AppealUrl.empty() || AppealUrlFits(settings)) return;
  platform::ConsoleLine("ATTENTION!!! : appeal_url is too long for the kick of a ban (by " +
                        std::to_string(AppealUrlExcess(settings)) +
                        " bytes): the game server shows at most " + std::to_string(kKickTextChars) +
                        " bytes of a kick's text and executes at most " + std::to_string(kMaxRconDatagramBytes) +
                        " bytes; banned players are kicked without it");
}

std::string BanKickCommand(const SettingsRecord& settings, const std::string& name, int32_t userId,
                           const std::string& duration, const std::string& reason, int32_t minutesLeft) {
  if (AppealUrlFits(settings)) {
    return AppealKick(settings, name, userId, NeutraliseRconText(reason), AppealTail(settings, minutesLeft));
  }
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
