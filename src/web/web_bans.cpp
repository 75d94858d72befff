#include "web/web_bans.h"

#include <set>

#include "base/limits.h"
#include "base/numbers.h"
#include "bans/ban_base.h"
#include "log/logs.h"
#include "platform/clock_text.h"
#include "web/http_server.h"
#include "web/web_accounts.h"
#include "web/web_json.h"

namespace {

constexpr const char* kJson = "application/json; charset=utf-8";
// What a records request answers when the ban base keeps no records.
constexpr const char* kRecordsOff = "ban records are off";

}  // namespace

std::optional<TEnforcedBans> EnforcedOf(TBanStore& bans, const std::vector<const TBanRecord*>& records) {
  std::set<std::string> identifiers;
  for (const TBanRecord* record : records) {
    if (record->End == BanEnd::InForce) identifiers.insert(record->Identifier);
  }
  TEnforcedBans enforced;
  if (identifiers.empty()) return enforced;
  if (bans.LookupAll(identifiers, enforced) == BanLookup::Failed) return std::nullopt;
  return enforced;
}

void ServeBanSearch(TBanStore& bans, const THttpRequest& request, THttpResponse& response) {
  TBanQuery query;
  query.Text = request.Param("q");
  const std::optional<TBanQuery::Which> filter = FilterField(request);
  if (!filter) return SetJsonError(response, 400, "filter must be in_force, ended or all");
  query.Filter = *filter;
  const std::optional<int64_t> page = IntegerField(request, "page", 1, 1000000, 1);
  const std::optional<int64_t> perPage = IntegerField(request, "per_page", 1, 500, 50);
  if (!page || !perPage) return SetJsonError(response, 400, "page must be 1 or more, per_page 1 to 500");
  query.Page = static_cast<int>(*page);
  query.PerPage = static_cast<int>(*perPage);
  TBanRecords* records = bans.Records();
  if (records == nullptr) return SetJsonError(response, 503, kRecordsOff);
  TBanPage found;
  std::string error;
  if (!records->Search(query, found, &error)) return SetJsonError(response, 503, error);
  std::vector<const TBanRecord*> shown;
  for (const TBanRecord& record : found.Records) shown.push_back(&record);
  const std::optional<TEnforcedBans> enforced = EnforcedOf(bans, shown);
  response.Set(200, BanPageJson(found, query, platform::UnixSeconds(), enforced ? &*enforced : nullptr), kJson);
}

void ServeBanDetails(TBanStore& bans, const std::string& id, const THttpRequest& request, THttpResponse& response) {
  TBanRecords* records = bans.Records();
  if (records == nullptr) return SetJsonError(response, 503, kRecordsOff);
  const std::optional<int64_t> number = ParseInteger64(id);
  std::string error;
  const std::optional<TBanRecord> record = number && *number > 0 ? records->Get(*number, &error) : std::nullopt;
  if (!record && !error.empty()) return SetJsonError(response, 503, error);
  if (!record) return SetJsonError(response, 404, "no such ban record");
  const std::optional<int64_t> page = IntegerField(request, "page", 1, 1000000, 1);
  if (!page) return SetJsonError(response, 400, "page must be 1 or more");
  TBanPage history;
  if (!records->HistoryPage(record->Identifier, record->Id, static_cast<int>(*page), kWebHistoryPerPage, history, &error)) {
    return SetJsonError(response, 503, error);
  }
  std::vector<const TBanRecord*> shown = {&*record};
  for (const TBanRecord& other : history.Records) shown.push_back(&other);
  const std::optional<TEnforcedBans> enforced = EnforcedOf(bans, shown);
  response.Set(200, BanDetailsJson(*record, history, static_cast<int>(*page), kWebHistoryPerPage,
                                   platform::UnixSeconds(), enforced ? &*enforced : nullptr),
               kJson);
}

void ServeBanByHand(TTables& tables, TBanEnforcement& enforcement, TAuditWriter* audit, const THttpRequest& request,
                    const TWebUser& user, const std::string& peer, THttpResponse& response) {
  const std::string identifier = request.Param("identifier");
  const std::string name = request.Param("name");
  const std::string reason = request.Param("reason");
  const std::optional<int64_t> minutes = IntegerField(request, "minutes", 0, 525600000, 0);
  if (const std::string problem = BanIdentifierProblem(identifier); !problem.empty()) {
    return SetJsonError(response, 400, "the identifier " + problem);
  }
  if (name.size() > kNameChars) return SetJsonError(response, 400, "name is longer than 32 bytes");
  if (reason.empty() || reason.size() > kLogFieldChars) {
    return SetJsonError(response, 400, "reason must have 1 to " + std::to_string(kLogFieldChars) + " bytes");
  }
  if (!minutes) return SetJsonError(response, 400, "minutes must be a whole number, 0 or empty for ever");
  const TBanOrder order{BanOrigin::Web, user.Name, peer};
  TBanKick kick;
  {
    TBusyGuard busy(tables);
    kick = enforcement.TakeBanOfIdentifier(busy, identifier, name, reason, static_cast<int32_t>(*minutes), order);
  }
  // BusyFlag is free while the kick and the chat line go to the game server.
  const TBanRecord record = enforcement.SendBanKick(kick);
  WriteEvent("Ban of ID " + identifier + " made from the web console (" + peer + "): " + LogField(reason));
  AuditWeb(audit, user, peer, "ban", identifier,
           reason + (*minutes == 0 ? ", for ever" : ", " + std::to_string(*minutes) + " min"));
  response.Set(200,
               "{\"ban\":" + BanRecordJson(record, platform::UnixSeconds()) +
                   ",\"kicked\":" + (kick.KickCommand.empty() ? "false" : "true") + "}",
               kJson);
}

void ServeBanLift(TBanStore& bans, TAuditWriter* audit, const THttpRequest& request, const TWebUser& user,
                  const std::string& peer, THttpResponse& response, const TLiftListener& onLift) {
  const std::string identifier = request.Param("identifier");
  if (identifier.empty()) return SetJsonError(response, 400, "no identifier");
  const std::string reason = request.Param("reason");
  if (reason.size() > kLogFieldChars) {
    return SetJsonError(response, 400, "reason must have at most " + std::to_string(kLogFieldChars) + " bytes");
  }
  const TBanLift lift{user.Name, "web " + peer, reason};
  const LiftResult lifted = bans.Lift(identifier, lift);
  if (!lifted.Error.empty()) return SetJsonError(response, 500, lifted.Error);
  if (lifted.Removed > 0) {
    WriteEvent("Ban of ID " + identifier + " lifted from the web console (" + peer + ")" +
               (reason.empty() ? std::string() : ": " + LogField(reason)));
    AuditWeb(audit, user, peer, "lift", identifier, reason);
    if (onLift) onLift(identifier, lift, lifted.Removed);
  }
  response.Set(200, "{\"removed\":" + std::to_string(lifted.Removed) + "}", kJson);
}
