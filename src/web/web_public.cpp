#include "web/web_public.h"

#include <set>
#include <vector>

#include "base/json_text.h"
#include "base/limits.h"
#include "base/numbers.h"
#include "log/logs.h"
#include "platform/clock_text.h"
#include "platform/files.h"
#include "platform/random_bytes.h"
#include "web/http_server.h"
#include "web/web_bans.h"
#include "web/web_screens.h"

namespace {

constexpr const char* kJson = "application/json; charset=utf-8";
constexpr const char* kText = "text/plain; charset=utf-8";
constexpr const char* kApiPrefix = "/api/public/";
constexpr const char* kBansPrefix = "/api/public/bans/";
// What the public reads when a store fails: its reason may name the data
// directory, which is no visitor's business.
constexpr const char* kRecordsDown = "the bans cannot be read now: try again later";
constexpr const char* kAppealsDown = "appeals cannot be taken now: try again later";

// Characters of UTF-8 text: every byte but the continuation bytes (a cp1251
// text counts a byte a character).
size_t Characters(const std::string& text) {
  size_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

// text without control bytes; line ends and tabs stay when keepLines.
std::string Clean(const std::string& text, bool keepLines) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 || byte == 0x7F) && !(keepLines && (c == '\n' || c == '\t'))) continue;
    out += c;
  }
  return out;
}

// The answer to a ban's appeal as the public sees it: its state and the
// admin's reason, never the player's text, contact or address.
std::string PublicAppealJson(const TAppeal& appeal) {
  return "{\"id\":" + std::to_string(appeal.Id) + ",\"state\":" + JsonString(AppealStateName(appeal.State)) +
         ",\"made_at\":" + std::to_string(appeal.MadeAt) + ",\"answered_at\":" +
         (appeal.State == AppealState::Open ? std::string("null") : std::to_string(appeal.AnsweredAt)) +
         ",\"answer\":" + JsonString(appeal.Answer) + "}";
}

// One ban as the public sees it (see web_public.h for what is left out).
// The end of a ban in force is the one the ban base enforces, as the
// console shows it.
std::string PublicBanJson(const TBanRecord& record, int64_t now, const TEnforcedBans* enforced,
                          const TAppeal* appeal, bool evidence) {
  const bool inForce = record.End == BanEnd::InForce;
  const TShownEnd shown = ShownEnd(record, now, enforced);
  const bool forever = shown.Forever;
  const int64_t minutesLeft = shown.MinutesLeft;
  const int64_t endsAt = shown.EndsAt;
  const std::string end = inForce ? std::string("null")
                                  : "{\"kind\":" + JsonString(BanEndName(record.End)) +
                                        ",\"at\":" + std::to_string(record.EndedAt) + "}";
  return "{\"id\":" + std::to_string(record.Id) + ",\"name\":" + JsonString(record.Name) +
         ",\"identifier\":" + JsonString(record.Identifier) + ",\"reason\":" + JsonString(record.Reason) +
         ",\"made_at\":" + std::to_string(record.MadeAt) +
         ",\"ends_at\":" + (forever ? std::string("null") : std::to_string(endsAt)) +
         ",\"forever\":" + (forever ? "true" : "false") + ",\"in_force\":" + (inForce ? "true" : "false") +
         ",\"minutes_left\":" + (inForce && !forever ? std::to_string(minutesLeft) : std::string("null")) +
         ",\"end\":" + end + ",\"server\":" + JsonString(record.Server) +
         ",\"evidence\":" + std::to_string(evidence ? record.Evidence.size() : 0) +
         ",\"appeal\":" + (appeal != nullptr ? PublicAppealJson(*appeal) : std::string("null")) + "}";
}

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ",") + item;
  return out;
}

// The newest appeal of each record; none when there is no store or it cannot
// be read (the list is shown all the same, without the answers).
std::map<int64_t, TAppeal> NewestAppeals(TAppealStore* appeals, const std::vector<TBanRecord>& records) {
  std::map<int64_t, TAppeal> newest;
  if (appeals == nullptr) return newest;
  std::vector<int64_t> ids;
  for (const TBanRecord& record : records) ids.push_back(record.Id);
  std::string error;
  if (!appeals->NewestOfBans(ids, newest, &error)) newest.clear();
  return newest;
}

// The records as the public sees them, each a JSON object, in their order.
std::vector<std::string> PublicBans(const TPublicSources& sources, const std::vector<TBanRecord>& records) {
  const int64_t now = platform::UnixSeconds();
  std::vector<const TBanRecord*> shown;
  for (const TBanRecord& record : records) shown.push_back(&record);
  const std::optional<TEnforcedBans> enforced = EnforcedOf(sources.Bans.Get(), shown);
  const std::map<int64_t, TAppeal> appeals = NewestAppeals(sources.Appeals, records);
  std::vector<std::string> items;
  for (const TBanRecord& record : records) {
    const auto appeal = appeals.find(record.Id);
    items.push_back(PublicBanJson(record, now, enforced ? &*enforced : nullptr,
                                  appeal != appeals.end() ? &appeal->second : nullptr,
                                  sources.Settings.WebPublicEvidence));
  }
  return items;
}

void ServePage(THttpResponse& response) {
  // The style and the script run by a nonce of their own, new with every page.
  const std::string nonce = platform::RandomHex(16);
  std::string page = kPublicPage;
  const std::string mark = "{{NONCE}}";
  for (size_t at = page.find(mark); at != std::string::npos; at = page.find(mark, at)) {
    page.replace(at, mark.size(), nonce);
  }
  for (auto& [name, value] : response.Headers) {
    if (name != "Content-Security-Policy") continue;
    value = "default-src 'none'; script-src 'nonce-" + nonce + "'; style-src 'nonce-" + nonce +
            "'; img-src 'self'; connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
  }
  response.Set(200, std::move(page), "text/html; charset=utf-8");
}

// GET /api/public/bans?q=&filter=&page=&per_page=
void ServeList(const TPublicSources& sources, const THttpRequest& request, THttpResponse& response) {
  TBanQuery query;
  query.Text = request.Param("q");
  query.MatchAddress = false;
  const std::optional<TBanQuery::Which> filter = FilterField(request);
  if (!filter) return SetJsonError(response, 400, "filter must be in_force, ended or all");
  query.Filter = *filter;
  const std::optional<int64_t> page = IntegerField(request, "page", 1, 1000000, 1);
  const std::optional<int64_t> perPage = IntegerField(request, "per_page", 1, kPublicPerPageMax, 50);
  if (!page || !perPage) {
    return SetJsonError(response, 400, "page must be 1 or more, per_page 1 to " + std::to_string(kPublicPerPageMax));
  }
  query.Page = static_cast<int>(*page);
  query.PerPage = static_cast<int>(*perPage);
  TBanRecords* records = sources.Bans.Records();
  if (records == nullptr) return SetJsonError(response, 503, "ban records are off");
  TBanPage found;
  std::string error;
  if (!records->Search(query, found, &error)) return SetJsonError(response, 503, kRecordsDown);
  response.Set(200,
               "{\"total\":" + std::to_string(found.Total) + ",\"page\":" + std::to_string(query.Page) +
                   ",\"per_page\":" + std::to_string(query.PerPage) +
                   ",\"appeals\":" + (sources.Appeals != nullptr ? "true" : "false") +
                   ",\"bans\":[" + Joined(PublicBans(sources, found.Records)) + "]}",
               kJson);
}

// The record of a public path's id; nullopt after an error answer.
std::optional<TBanRecord> RecordOf(const TPublicSources& sources, const std::string& id, THttpResponse& response) {
  TBanRecords* records = sources.Bans.Records();
  if (records == nullptr) {
    SetJsonError(response, 503, "ban records are off");
    return std::nullopt;
  }
  const std::optional<int64_t> number = ParseInteger64(id);
  std::string error;
  std::optional<TBanRecord> record = number && *number > 0 ? records->Get(*number, &error) : std::nullopt;
  if (!record) SetJsonError(response, error.empty() ? 404 : 503, error.empty() ? "no such ban" : kRecordsDown);
  return record;
}

// GET /api/public/bans/<id> and /api/public/bans/<id>/evidence/<n>
void ServeBan(const TPublicSources& sources, const std::string& rest, THttpResponse& response) {
  const size_t slash = rest.find('/');
  const std::optional<TBanRecord> record = RecordOf(sources, rest.substr(0, slash), response);
  if (!record) return;
  if (slash == std::string::npos) {
    return response.Set(200, "{\"ban\":" + PublicBans(sources, {*record}).front() + "}", kJson);
  }
  const std::string evidence = "evidence/";
  const std::optional<int64_t> number =
      rest.compare(slash + 1, evidence.size(), evidence) == 0 ? ParseInteger64(rest.substr(slash + 1 + evidence.size()))
                                                               : std::nullopt;
  if (!sources.Settings.WebPublicEvidence || !number || *number < 0 ||
      *number >= static_cast<int64_t>(record->Evidence.size())) {
    return response.Set(404, "no such screenshot\n", kText);
  }
  const std::string& path = record->Evidence[static_cast<size_t>(*number)];
  const size_t cut = path.find('/');
  const std::string file = cut == std::string::npos
                               ? std::string()
                               : ListedScreenPath(sources.Settings, path.substr(0, cut), path.substr(cut + 1));
  std::string bytes;
  if (file.empty() || !platform::ReadWholeFile(file, bytes)) return response.Set(404, "no such screenshot\n", kText);
  response.Set(200, std::move(bytes), "image/jpeg");
}

// POST /api/public/appeals: ban, text, contact.
void ServeAppeal(const TPublicSources& sources, const THttpRequest& request, const std::string& peer,
                 THttpResponse& response) {
  if (request.Header("X-Appeal-Form").empty()) return SetJsonError(response, 403, "not sent by the appeal form");
  if (sources.Appeals == nullptr) return SetJsonError(response, 503, "appeals are not taken here");
  const std::optional<TBanRecord> record = RecordOf(sources, request.Param("ban"), response);
  if (!record) return;
  if (record->End != BanEnd::InForce) return SetJsonError(response, 409, "this ban is not in force");
  TAppeal appeal;
  appeal.BanId = record->Id;
  appeal.Identifier = record->Identifier;
  appeal.Name = record->Name;
  appeal.MadeAt = platform::UnixSeconds();
  appeal.Text = Clean(request.Param("text"), /*keepLines=*/true);
  appeal.Contact = Clean(request.Param("contact"), /*keepLines=*/false);
  appeal.Address = peer;
  if (appeal.Text.find_first_not_of(" \n\t") == std::string::npos || Characters(appeal.Text) > kAppealTextChars) {
    return SetJsonError(response, 400, "the text must have 1 to " + std::to_string(kAppealTextChars) + " characters");
  }
  if (Characters(appeal.Contact) > kAppealContactChars) {
    return SetJsonError(response, 400, "the contact must have at most " + std::to_string(kAppealContactChars) +
                                           " characters");
  }
  std::string error;
  switch (sources.Appeals->File(appeal, {kAppealsPerAddressPerHour, kMaxOpenAppeals}, &error)) {
    case AppealFiling::Filed:
      break;
    case AppealFiling::OpenAlready:
      return SetJsonError(response, 409, "this ban has an open appeal already: wait for its answer");
    case AppealFiling::Throttled:
      response.Headers.emplace_back("Retry-After", "3600");
      return SetJsonError(response, 429, "at most " + std::to_string(kAppealsPerAddressPerHour) +
                                             " appeals an hour from one address: try again later");
    case AppealFiling::TooMany:
      return SetJsonError(response, 503, "too many appeals wait for an answer: try again later");
    case AppealFiling::Failed:
      return SetJsonError(response, 503, kAppealsDown);
  }
  WriteEvent("Appeal " + std::to_string(appeal.Id) + " against the ban record " + std::to_string(record->Id) +
             " (ID " + LogField(record->Identifier) + ") filed from " + peer);
  response.Set(200, "{\"appeal\":" + PublicAppealJson(appeal) + "}", kJson);
}

}  // namespace

bool IsPublicPath(const std::string& path) { return path == "/bans" || path.rfind(kApiPrefix, 0) == 0; }

void ServePublic(const TPublicSources& sources, const THttpRequest& request, const std::string& peer,
                 THttpResponse& response) {
  const std::string& path = request.Path;
  const bool get = request.Method == "GET" || request.Method == "HEAD";
  if (!sources.Settings.WebPublic) {
    response.Set(404, "not found\n", kText);
  } else if (get && path == "/bans") {
    ServePage(response);
  } else if (get && path == "/api/public/bans") {
    ServeList(sources, request, response);
  } else if (get && path.rfind(kBansPrefix, 0) == 0) {
    ServeBan(sources, path.substr(std::string(kBansPrefix).size()), response);
  } else if (request.Method == "POST" && path == "/api/public/appeals") {
    ServeAppeal(sources, request, peer, response);
  } else {
    response.Set(404, "not found\n", kText);
  }
}
