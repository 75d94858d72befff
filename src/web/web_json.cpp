#include "web/web_json.h"

#include <algorithm>

#include "base/json_text.h"
#include "base/numbers.h"

namespace {

const char* ProtectionName(Protection by) {
  switch (by) {
    case Protection::Client:
      return "client";
    case Protection::AllowList:
      return "allow-list";
    case Protection::Grace:
      return "startup-grace";
    case Protection::None:
      break;
  }
  return "none";
}

const char* KindName(PlayerKind kind) {
  switch (kind) {
    case PlayerKind::Bot:
      return "bot";
    case PlayerKind::Proxy:
      return "proxy";
    case PlayerKind::Connecting:
      return "connecting";
    case PlayerKind::Player:
      break;
  }
  return "player";
}

// Joins the items as a JSON array.
std::string Array(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
  return out + "]";
}

}  // namespace

std::string StatusJson(const TStatusFacts& facts, const TSupervisionReport& report) {
  std::vector<std::string> kicks;
  for (const TReportedKick& kick : report.Kicks) {
    kicks.push_back("{\"name\":" + JsonString(kick.Name) + ",\"address\":" + JsonString(kick.Address) +
                    ",\"reason\":" + JsonString(kick.Reason) + "}");
  }
  size_t players = 0;
  size_t humans = 0;  // every player but bots and spectator proxies, those still connecting too
  size_t protectedPlayers = 0;
  for (const TReportedPlayer& player : report.Players) {
    players += player.Kind == PlayerKind::Player ? 1 : 0;
    humans += player.Kind == PlayerKind::Player || player.Kind == PlayerKind::Connecting ? 1 : 0;
    protectedPlayers +=
        player.Kind == PlayerKind::Player && (player.By == Protection::Client || player.By == Protection::AllowList);
  }
  const std::string lastRun =
      report.AtUnixSeconds == 0
          ? std::string("null")
          : "{\"at\":" + std::to_string(report.AtUnixSeconds) +
                ",\"ago_s\":" + std::to_string(facts.NowUnixSeconds - report.AtUnixSeconds) +
                ",\"answered\":" + (report.Answered ? "true" : "false") +
                ",\"result\":" + JsonString(HealthName(report.Health)) +
                ",\"protected\":" + std::to_string(protectedPlayers) + ",\"humans\":" + std::to_string(humans) +
                ",\"kicks\":" + Array(kicks) + "}";
  return "{\"health\":" + JsonString(HealthName(facts.Health)) + ",\"game_server\":" + JsonString(facts.GameServer) +
         ",\"status_mark\":" + JsonString(report.Mark) + ",\"player_list\":" + JsonString(report.List) +
         ",\"last_run\":" + lastRun + ",\"clients\":" + std::to_string(facts.Clients) +
         ",\"players\":" + std::to_string(players) + ",\"bans\":" + std::to_string(facts.Bans) +
         ",\"screens\":" + (facts.ScreensOn ? "true" : "false") +
         ",\"records\":{\"up\":" + (facts.RecordsUp ? "true" : "false") +
         ",\"reason\":" + JsonString(facts.RecordsReason) + "}" +
         ",\"uptime_s\":" + std::to_string(facts.NowUnixSeconds - facts.StartedUnixSeconds) + "}";
}

std::string PlayersJson(const TSupervisionReport& report, const std::map<std::string, std::string>& identifiers,
                        const std::map<std::string, int64_t>& banCounts) {
  std::vector<std::string> players;
  for (const TReportedPlayer& player : report.Players) {
    const auto identifier = identifiers.find(player.Name);
    const auto count = identifier == identifiers.end() ? banCounts.end() : banCounts.find(identifier->second);
    players.push_back("{\"name\":" + JsonString(player.Name) + ",\"address\":" + JsonString(player.Address) +
                      ",\"port\":" + std::to_string(player.Port) + ",\"userid\":" + std::to_string(player.UserId) +
                      ",\"kind\":\"" + KindName(player.Kind) + "\",\"protection\":\"" +
                      (player.Kind == PlayerKind::Player ? ProtectionName(player.By) : "not checked") +
                      "\",\"identifier\":" + JsonString(identifier == identifiers.end() ? "" : identifier->second) +
                      ",\"earlier_bans\":" + (count == banCounts.end() ? "null" : std::to_string(count->second)) + "}");
  }
  return "{\"players\":" + Array(players) + "}";
}

std::string ClientsJson(const std::vector<TClientView>& clients) {
  std::vector<std::string> items;
  for (const TClientView& client : clients) {
    const std::string screen = client.ScreenPending ? "{\"size\":" + std::to_string(client.ScreenSize) +
                                                          ",\"received\":" + std::to_string(client.ScreenReceived) + "}"
                                                    : std::string("null");
    items.push_back("{\"slot\":" + std::to_string(client.Slot) + ",\"name\":" + JsonString(client.Name) +
                    ",\"identifier\":" + JsonString(client.Identifier) + ",\"address\":" + JsonString(client.Address) +
                    ",\"missed_updates\":" + std::to_string(client.MissedUpdates) + ",\"screen\":" + screen + "}");
  }
  return "{\"clients\":" + Array(items) + "}";
}

TShownEnd ShownEnd(const TBanRecord& record, int64_t nowUnixSeconds, const TEnforcedBans* enforced) {
  const bool inForce = record.End == BanEnd::InForce;
  TShownEnd shown;
  shown.Forever = record.EndsAt == 0;
  // Rounded up, as the ban base counts: a ban with 30 s left has 1 minute left.
  shown.MinutesLeft =
      inForce && !shown.Forever ? std::max<int64_t>(0, (record.EndsAt - nowUnixSeconds + 59) / 60) : 0;
  shown.EndsAt = record.EndsAt;
  if (!inForce || enforced == nullptr) return shown;
  const auto found = enforced->find(record.Identifier);
  shown.Held = found != enforced->end() ? "true" : "false";
  if (found != enforced->end()) {
    shown.Forever = found->second == "p";
    shown.MinutesLeft = shown.Forever ? 0 : ParseInteger64(found->second).value_or(shown.MinutesLeft);
    shown.EndsAt = shown.Forever ? 0 : nowUnixSeconds + 60 * shown.MinutesLeft;
  }
  return shown;
}

std::string BanRecordJson(const TBanRecord& record, int64_t nowUnixSeconds, const TEnforcedBans* enforced) {
  const bool inForce = record.End == BanEnd::InForce;
  const TShownEnd shown = ShownEnd(record, nowUnixSeconds, enforced);
  const bool forever = shown.Forever;
  const int64_t minutesLeft = shown.MinutesLeft;
  const int64_t endsAt = shown.EndsAt;
  const std::string& held = shown.Held;
  std::vector<std::string> evidence;
  for (const std::string& path : record.Evidence) evidence.push_back(JsonString(path));
  const std::string end =
      inForce ? std::string("null")
              : "{\"kind\":" + JsonString(BanEndName(record.End)) + ",\"at\":" + std::to_string(record.EndedAt) +
                    ",\"by\":" + JsonString(record.EndedBy) + ",\"from\":" + JsonString(record.EndedFrom) +
                    ",\"reason\":" + JsonString(record.EndReason) + "}";
  return "{\"id\":" + std::to_string(record.Id) + ",\"identifier\":" + JsonString(record.Identifier) +
         ",\"name\":" + JsonString(record.Name) + ",\"address\":" + JsonString(record.Address) +
         ",\"reason\":" + JsonString(record.Reason) + ",\"made_at\":" + std::to_string(record.MadeAt) +
         ",\"ends_at\":" + (forever ? std::string("null") : std::to_string(endsAt)) +
         ",\"planned_ends_at\":" + (record.EndsAt == 0 ? std::string("null") : std::to_string(record.EndsAt)) +
         ",\"forever\":" + (forever ? "true" : "false") + ",\"in_force\":" + (inForce ? "true" : "false") +
         ",\"enforced\":" + held +
         ",\"minutes_left\":" + (inForce && !forever ? std::to_string(minutesLeft) : std::string("null")) +
         ",\"origin\":{\"kind\":" + JsonString(BanOriginName(record.Origin)) + ",\"name\":" +
         JsonString(record.ByName) + ",\"identifier\":" + JsonString(record.ByIdentifier) +
         ",\"address\":" + JsonString(record.ByAddress) + "},\"server\":" + JsonString(record.Server) +
         ",\"evidence\":" + Array(evidence) + ",\"end\":" + end + "}";
}

std::string BanPageJson(const TBanPage& page, const TBanQuery& query, int64_t nowUnixSeconds,
                        const TEnforcedBans* enforced) {
  std::vector<std::string> items;
  for (const TBanRecord& record : page.Records) items.push_back(BanRecordJson(record, nowUnixSeconds, enforced));
  return "{\"total\":" + std::to_string(page.Total) + ",\"page\":" + std::to_string(query.Page) +
         ",\"per_page\":" + std::to_string(query.PerPage) + ",\"bans\":" + Array(items) + "}";
}

std::string BanDetailsJson(const TBanRecord& record, const std::vector<TBanRecord>& history, int64_t nowUnixSeconds) {
  std::vector<std::string> items;
  for (const TBanRecord& other : history) {
    if (other.Id != record.Id) items.push_back(BanRecordJson(other, nowUnixSeconds));
  }
  return "{\"ban\":" + BanRecordJson(record, nowUnixSeconds) + ",\"history\":" + Array(items) + "}";
}

std::string BanDetailsJson(const TBanRecord& record, const TBanPage& history, int page, int perPage,
                           int64_t nowUnixSeconds, const TEnforcedBans* enforced) {
  std::vector<std::string> items;
  for (const TBanRecord& other : history.Records) items.push_back(BanRecordJson(other, nowUnixSeconds, enforced));
  return "{\"ban\":" + BanRecordJson(record, nowUnixSeconds, enforced) + ",\"history\":" + Array(items) +
         ",\"history_total\":" + std::to_string(history.Total) + ",\"history_page\":" + std::to_string(page) +
         ",\"history_per_page\":" + std::to_string(perPage) + "}";
}

std::string ScreensJson(const std::vector<TScreenFile>& screens) {
  std::vector<std::string> items;
  for (const TScreenFile& screen : screens) {
    items.push_back("{\"address\":" + JsonString(screen.Address) + ",\"identifier\":" +
                    JsonString(screen.Identifier) + ",\"file\":" + JsonString(screen.File) +
                    ",\"bytes\":" + std::to_string(screen.Bytes) + ",\"time\":" +
                    std::to_string(screen.ModifiedUnixSeconds) + "}");
  }
  return "{\"screens\":" + Array(items) + "}";
}

std::string LogsJson(const std::vector<std::string>& full, const std::vector<std::string>& light) {
  std::vector<std::string> fullItems, lightItems;
  for (const std::string& line : full) fullItems.push_back(JsonString(line));
  for (const std::string& line : light) lightItems.push_back(JsonString(line));
  return "{\"full\":" + Array(fullItems) + ",\"short\":" + Array(lightItems) + "}";
}
