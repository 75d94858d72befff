// The ban a client reports: the client leaves the table, the player is kicked
// and the ban announced in the game chat, the full log gets the event and the
// ban base a record.
//
// The name and the reason come from the client: in the two remote-console
// commands each double quote becomes a single quote and control bytes go, so
// neither can close our quotes or start another command, and the reason is cut
// so that each command fits the 515 bytes that a game server executes (through
// say, the chat line reaches the players in lines of at most 63 characters that
// together hold it whole: TChat::Say). The log line keeps the texts as the
// client sent them.
#include "game/ban_enforcement.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "base/metrics.h"
#include "base/mutex.h"
#include "game/ban_base.h"
#include "game/ban_store.h"
#include "game/chat.h"
#include "game/rcon_limits.h"
#include "game/supervise.h"
#include "game/text_fields.h"
#include "log/logs.h"
#include "platform/console.h"
#include "registry/tables.h"

bool TBanEnforcement::BanInFlight(const std::string& identifier, std::string* duration) {
  TMutexLock guard(inFlightLock_);
  for (const auto& [banned, minutes] : bansInFlight_) {
    if (banned != identifier) continue;
    if (duration) *duration = minutes == 0 ? "p" : std::to_string(minutes);
    return true;
  }
  return false;
}

BanLookup TBanEnforcement::Lookup(const std::string& identifier, std::string* duration) {
  return BanInFlight(identifier, duration) ? BanLookup::Banned : bans_.Get().Lookup(identifier, duration);
}

std::optional<TBanKick> TBanEnforcement::TakeBan(const TBusyGuard& busy, const std::string& name,
                                                 const std::string& address, const std::string& reason,
                                                 int32_t minutes) {
  const int slot = FindClientByName(busy, name);
  if (slot == 0) {
    WriteLog("ERROR: cannot find user with nickname : \"" + name + "\"");
    return std::nullopt;
  }
  std::string identifier;
  {
    TMutexLock guard(busy.Client(slot).Guard);
    identifier = busy.Client(slot).Identifier;
  }
  if (!IsPlayerPresent(busy, name)) {
    // Most often a player still connecting: the game server counts them but
    // does not list them yet. The client's next report may succeed.
    if (AdmitErrorLine(address)) {
      WriteLog("Ban of \"" + LogField(name) + "\" not carried out: the player is not in the game server's player "
               "list of the last supervision run (still connecting?); the client stays registered");
    }
    return std::nullopt;
  }

  RemoveClient(busy, slot);
  platform::ConsoleLine("User disconnected (BANED) : " + name);

  const std::string duration = DurationText(minutes);
  const std::string safeName = NeutraliseRconText(name);
  const std::string safeReason = NeutraliseRconText(reason);
  // A player known from the engine's status list is kicked by userid, so that
  // the kick cannot hit another player of the same name and the player sees
  // the clean reason.
  const int player = FindPlayerByName(busy, name);
  const int32_t userId = player != 0 ? busy.Player(player).UserId : 0;
  TBanKick kick{"", "", name, address, identifier, reason, minutes};
  if (userId > 0) {
    const std::string kickHead = "kick #" + std::to_string(userId) + " ZELK anticheat: " + duration + ". Reason: ";
    kick.KickCommand = kickHead + CutToFit(settings_, kickHead, safeReason, "");
  } else {
    const std::string kickHead = "kick \"" + safeName + "\" \"ZELK anticheat: " + duration + ". Reason: ";
    kick.KickCommand = kickHead + CutToFit(settings_, kickHead, safeReason, "\"") + "\"";
  }
  const std::string chatText = "[ZELK]:\"" + safeName + "\" was " + duration + ".Reason: cheat \"";
  const std::string longestHead = "amx_tsay red " + chatText;  // the longer of the chat's two forms
  kick.ChatText = chatText + CutToFit(settings_, longestHead, safeReason, "\"") + "\"";
  supervision_.NoteBanKick(busy, name);
  {
    TMutexLock guard(inFlightLock_);
    bansInFlight_.emplace_back(identifier, minutes);
  }
  return kick;
}

void TBanEnforcement::SendBanKick(const TBanKick& kick) {
  rcon_.Command(kick.KickCommand);
  chat_.Say("red", kick.ChatText);

  ++Metrics.Bans;
  WriteLog(DurationText(kick.Minutes) + " : " + kick.Name + "; with ip: " + kick.Address +
           "; with ID: " + kick.Identifier + "; reason: " + kick.Reason);
  // A record that cannot be written is in the full log (and kept to be
  // written later); the ban itself (the freed slot, the kick) has been
  // carried out all the same.
  bans_.Get().Record({kick.Identifier, kick.Name, kick.Address, kick.Reason, kick.Minutes});
  // Only now: a connect that no longer finds the ban in flight finds its record.
  TMutexLock guard(inFlightLock_);
  const auto entry =
      std::find(bansInFlight_.begin(), bansInFlight_.end(), std::make_pair(kick.Identifier, kick.Minutes));
  if (entry != bansInFlight_.end()) bansInFlight_.erase(entry);
}

bool TBanEnforcement::EnforceBan(const TBusyGuard& busy, const std::string& name, const std::string& address,
                                 const std::string& reason, int32_t minutes) {
  const std::optional<TBanKick> kick = TakeBan(busy, name, address, reason, minutes);
  if (kick) SendBanKick(*kick);
  return kick.has_value();
}
