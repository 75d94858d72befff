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
#include "supervision/ban_enforcement.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "base/limits.h"
#include "base/metrics.h"
#include "platform/mutex.h"
#include "bans/ban_base.h"
#include "bans/ban_store.h"
#include "rcon/chat.h"
#include "rcon/rcon_limits.h"
#include "supervision/supervise.h"
#include "rcon/text_fields.h"
#include "log/logs.h"
#include "platform/clock_text.h"
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

BanLookup TBanEnforcement::LookupAll(const std::set<std::string>& identifiers,
                                     std::map<std::string, std::string>& banned) {
  std::map<std::string, std::string> inFlight;
  std::set<std::string> rest;
  for (const std::string& identifier : identifiers) {
    std::string duration;
    if (BanInFlight(identifier, &duration)) {
      inFlight[identifier] = duration;
    } else {
      rest.insert(identifier);
    }
  }
  banned.clear();
  if (!rest.empty() && bans_.Get().LookupAll(rest, banned) == BanLookup::Failed) return BanLookup::Failed;
  banned.merge(inFlight);
  return banned.empty() ? BanLookup::NotBanned : BanLookup::Banned;
}

namespace {

// The record a ban starts with: who, what, when and by whom; the server is
// this one ("host:rconport").
TBanRecord NewRecord(const SettingsRecord& settings, const std::string& identifier, const std::string& name,
                     const std::string& address, const std::string& reason, int32_t minutes, const TBanOrder& order) {
  TBanRecord record;
  record.Identifier = identifier;
  record.Name = name;
  record.Address = address;
  record.Reason = reason.substr(0, kLogFieldChars);
  record.MadeAt = platform::UnixSeconds();
  record.EndsAt = minutes == 0 ? 0 : record.MadeAt + int64_t{minutes} * 60;
  record.Origin = order.Origin;
  record.ByName = order.Origin == BanOrigin::Report ? name : order.ByName;
  record.ByIdentifier = order.Origin == BanOrigin::Report ? identifier : std::string();
  record.ByAddress = order.ByAddress;
  record.Server = ServerName(settings);
  return record;
}

}  // namespace

std::optional<TBanKick> TBanEnforcement::TakeBan(const TBusyGuard& busy, const std::string& name,
                                                 const std::string& address, const std::string& reason,
                                                 int32_t minutes, const TBanOrder& order) {
  const int slot = FindClientByName(busy, name);
  if (slot == 0) {
    WriteLog("ERROR: cannot find user with nickname : \"" + name + "\"");
    return std::nullopt;
  }
  std::string identifier;
  std::string clientAddress;
  {
    TMutexLock guard(busy.Client(slot).Guard);
    identifier = busy.Client(slot).Identifier;
    clientAddress = busy.Client(slot).Address;
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

  TBanOrder byWhom = order;
  if (byWhom.ByAddress.empty()) byWhom.ByAddress = address;
  const std::string duration = DurationText(minutes);
  const std::string safeName = NeutraliseRconText(name);
  const std::string safeReason = NeutraliseRconText(reason);
  // A player known from the engine's status list is kicked by userid, so that
  // the kick cannot hit another player of the same name and the player sees
  // the clean reason; otherwise by the name the game server lists.
  const int player = FindPlayerOfClient(busy, name, clientAddress);
  const int32_t userId = player != 0 ? busy.Player(player).UserId : 0;
  const std::string kickName = player != 0 ? busy.Player(player).Name : name;
  TBanKick kick{"", "", NewRecord(settings_, identifier, name, address, reason, minutes, byWhom), minutes};
  kick.KickCommand = BanKickCommand(settings_, kickName, userId, duration, reason, minutes);
  // A client's report names a cheat; an admin's ban says the admin's own words.
  const std::string chatText = "[ZELK]:\"" + safeName + "\" was " + duration +
                               (byWhom.Origin == BanOrigin::Report ? ".Reason: cheat \"" : ".Reason: \"");
  const std::string longestHead = "amx_tsay red " + chatText;  // the longer of the chat's two forms
  kick.ChatText = chatText + CutToFit(settings_, longestHead, safeReason, "\"") + "\"";
  supervision_.NoteBanKick(busy, name);
  {
    TMutexLock guard(inFlightLock_);
    bansInFlight_.emplace_back(identifier, minutes);
  }
  return kick;
}

TBanKick TBanEnforcement::TakeBanOfIdentifier(const TBusyGuard& busy, const std::string& identifier,
                                              const std::string& name, const std::string& reason, int32_t minutes,
                                              const TBanOrder& order) {
  for (int slot = 1; slot <= kTableSlots; ++slot) {
    const ClientSlot& client = busy.Client(slot);
    if (!client.InUse || client.Identifier != identifier || !IsPlayerPresent(busy, client.Name)) continue;
    // Copies: TakeBan empties the slot before it has used the name and the address.
    const std::string clientName = client.Name;
    const std::string clientAddress = client.Address;
    if (std::optional<TBanKick> kick = TakeBan(busy, clientName, clientAddress, reason, minutes, order)) {
      return *kick;
    }
  }
  TBanKick kick{"", "", NewRecord(settings_, identifier, name, "", reason, minutes, order), minutes};
  TMutexLock guard(inFlightLock_);
  bansInFlight_.emplace_back(identifier, minutes);
  return kick;
}

TBanRecord TBanEnforcement::SendBanKick(const TBanKick& kick) {
  if (!kick.KickCommand.empty()) {
    rcon_.Command(kick.KickCommand);
    chat_.Say("red", kick.ChatText);
  }

  ++Metrics.Bans;
  const TBanRecord& ban = kick.Record;
  if (ban.Origin == BanOrigin::Report) ++Metrics.BansByReport;
  if (ban.Origin == BanOrigin::Web) ++Metrics.BansByWeb;
  WriteLog(DurationText(kick.Minutes) + " : " + ban.Name + "; with ip: " + ban.Address + "; with ID: " +
           ban.Identifier + "; reason: " + ban.Reason);
  TBanRecord record = ban;
  if (findEvidence_ && !record.Address.empty()) record.Evidence = findEvidence_(record.Address, record.Identifier, record.MadeAt);
  // A record that cannot be written is in the full log (and kept to be
  // written later); the ban itself (the freed slot, the kick) has been
  // carried out all the same.
  bans_.Get().Record(record);
  {
    // Only now: a connect that no longer finds the ban in flight finds its record.
    TMutexLock guard(inFlightLock_);
    const auto entry =
        std::find(bansInFlight_.begin(), bansInFlight_.end(), std::make_pair(ban.Identifier, kick.Minutes));
    if (entry != bansInFlight_.end()) bansInFlight_.erase(entry);
  }
  if (banListener_) banListener_(record);
  return record;
}

void TBanEnforcement::NoteRefusal(const TBusyGuard& busy, const std::string& name, const std::string& address,
                                  const std::string& identifier) {
  supervision_.NoteBanRefusal(busy, name, address, identifier);
}
