#include "web/web_appeals.h"

#include "base/json_text.h"
#include "base/limits.h"
#include "base/numbers.h"
#include "log/logs.h"
#include "platform/clock_text.h"
#include "web/http_server.h"
#include "web/web_accounts.h"
#include "web/web_fields.h"

namespace {

constexpr const char* kJson = "application/json; charset=utf-8";
constexpr const char* kAppealsOff = "appeals are not kept here";

// An appeal as the admins see it: everything the player sent, and from where.
std::string AppealJson(const TAppeal& appeal) {
  return "{\"id\":" + std::to_string(appeal.Id) + ",\"ban_id\":" + std::to_string(appeal.BanId) +
         ",\"identifier\":" + JsonString(appeal.Identifier) + ",\"name\":" + JsonString(appeal.Name) +
         ",\"made_at\":" + std::to_string(appeal.MadeAt) + ",\"text\":" + JsonString(appeal.Text) +
         ",\"contact\":" + JsonString(appeal.Contact) + ",\"address\":" + JsonString(appeal.Address) +
         ",\"state\":" + JsonString(AppealStateName(appeal.State)) + ",\"answered_at\":" +
         (appeal.State == AppealState::Open ? std::string("null") : std::to_string(appeal.AnsweredAt)) +
         ",\"answered_by\":" + JsonString(appeal.AnsweredBy) + ",\"answer\":" + JsonString(appeal.Answer) + "}";
}

}  // namespace

void ServeAppealList(TAppealStore* appeals, const THttpRequest& request, THttpResponse& response) {
  if (appeals == nullptr) return SetJsonError(response, 503, kAppealsOff);
  const std::string state = request.Param("state");
  std::optional<bool> answered;
  if (state.empty() || state == "open") {
    answered = false;
  } else if (state == "answered") {
    answered = true;
  } else if (state != "all") {
    return SetJsonError(response, 400, "state must be open, answered or all");
  }
  const std::optional<int64_t> page = IntegerField(request, "page", 1, 1000000, 1);
  if (!page) return SetJsonError(response, 400, "page must be 1 or more");
  TAppealPage found;
  std::string error;
  if (!appeals->List(answered, static_cast<int>(*page), kAppealsPerPage, found, &error)) {
    return SetJsonError(response, 503, error);
  }
  std::string items;
  for (const TAppeal& appeal : found.Appeals) items += (items.empty() ? "" : ",") + AppealJson(appeal);
  response.Set(200,
               "{\"total\":" + std::to_string(found.Total) + ",\"page\":" + std::to_string(*page) +
                   ",\"per_page\":" + std::to_string(kAppealsPerPage) + ",\"appeals\":[" + items + "]}",
               kJson);
}

void ServeAppealAnswer(TAppealStore* appeals, TBanStore& bans, TAuditWriter* audit, const THttpRequest& request,
                       const TWebUser& user, const std::string& peer, THttpResponse& response,
                       const TLiftListener& onLift) {
  if (appeals == nullptr) return SetJsonError(response, 503, kAppealsOff);
  const std::optional<int64_t> id = ParseInteger64(request.Param("id"));
  const std::string decision = request.Param("decision");
  const std::string answer = request.Param("answer");
  if (!id) return SetJsonError(response, 400, "no appeal id");
  if (decision != "lift" && decision != "reject") return SetJsonError(response, 400, "decision must be lift or reject");
  if (answer.size() > kLogFieldChars) {
    return SetJsonError(response, 400, "the answer must have at most " + std::to_string(kLogFieldChars) + " bytes");
  }
  if (decision == "reject" && answer.find_first_not_of(' ') == std::string::npos) {
    return SetJsonError(response, 400, "a rejection needs a reason");
  }
  std::string error;
  std::optional<TAppeal> appeal = appeals->Get(*id, &error);
  if (!appeal) return SetJsonError(response, error.empty() ? 404 : 503, error.empty() ? "no such appeal" : error);
  if (appeal->State != AppealState::Open) return SetJsonError(response, 409, "this appeal is answered already");
  const std::string number = std::to_string(appeal->Id);
  int removed = 0;
  if (decision == "lift") {
    // The Bans tab's Lift: the store ends every ban of the identifier and
    // its records, with who, from where and why.
    const TBanLift lift{user.Name, "web " + peer, answer.empty() ? "appeal " + number : answer};
    const LiftResult lifted = bans.Lift(appeal->Identifier, lift);
    if (!lifted.Error.empty()) return SetJsonError(response, 500, lifted.Error);
    removed = lifted.Removed;
    if (removed > 0 && onLift) onLift(appeal->Identifier, lift, removed);
  }
  const AppealState state = decision == "lift" ? AppealState::Lifted : AppealState::Rejected;
  const int64_t now = platform::UnixSeconds();
  if (!appeals->Answer(appeal->Id, state, user.Name, answer, now, &error)) {
    // The ban stays lifted when the answer could not be written: say so.
    return SetJsonError(response, error.empty() ? 409 : 503,
                        (error.empty() ? std::string("this appeal was answered meanwhile") : error) +
                            (removed > 0 ? "; the ban was lifted" : ""));
  }
  appeal->State = state;
  appeal->AnsweredAt = now;
  appeal->AnsweredBy = user.Name;
  appeal->Answer = answer;
  const std::string what = decision == "lift" ? "ban lifted" : "rejected";
  WriteEvent("Appeal " + number + " (ID " + LogField(appeal->Identifier) + ") answered from the web console by " +
             user.Name + " (" + peer + "): " + what + (answer.empty() ? std::string() : ": " + LogField(answer)));
  AuditWeb(audit, user, peer, "appeal " + decision, appeal->Identifier,
           "appeal " + number + (answer.empty() ? std::string() : ": " + answer));
  response.Set(200, "{\"appeal\":" + AppealJson(*appeal) + ",\"removed\":" + std::to_string(removed) + "}", kJson);
}
