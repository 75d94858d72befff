#include "app/notices.h"

#include "base/numbers.h"
#include "platform/clock_text.h"

namespace {

constexpr uint32_t kRed = 0xE53935;
constexpr uint32_t kGreen = 0x43A047;
constexpr uint32_t kOrange = 0xFB8C00;

TNoticeField Field(const std::string& key, const std::string& label, const std::string& text, bool inlined = true) {
  return TNoticeField{key, label, text, std::nullopt, inlined};
}

// A number for the plain JSON only.
TNoticeField Number(const std::string& key, int64_t value) { return TNoticeField{key, "", "", value, false}; }

}  // namespace

TNotice BanNotice(const TBanRecord& ban) {
  const std::string who = ban.Name.empty() ? "ID " + ban.Identifier : "\"" + ban.Name + "\" (ID " + ban.Identifier + ")";
  const int64_t minutes = ban.EndsAt == 0 ? 0 : (ban.EndsAt - ban.MadeAt + 59) / 60;
  const std::string length = minutes == 0 ? "for ever" : "for " + MinutesText(minutes);
  const std::string origin = ban.Origin == BanOrigin::Report ? "cheat report"
                             : ban.Origin == BanOrigin::Web  ? "web console"
                                                             : BanOriginName(ban.Origin);
  std::string by = ban.ByName;
  if (!ban.ByAddress.empty()) by += (by.empty() ? "" : " ") + std::string("from ") + ban.ByAddress;
  TNotice notice;
  notice.Event = "ban";
  notice.Summary = "Ban on " + ban.Server + ": " + who + " " + length + ": " + ban.Reason;
  notice.Title = "Ban: " + (ban.Name.empty() ? ban.Identifier : ban.Name);
  notice.Description = ban.Reason;
  notice.Colour = kRed;
  notice.AtUnixSeconds = ban.MadeAt;
  notice.Fields = {Field("name", "Player", ban.Name),
                   Field("identifier", "Identifier", ban.Identifier),
                   Field("address", "Address", ban.Address),
                   Field("length", "Length", length),
                   Number("minutes", minutes),
                   Field("", "Ends", ban.EndsAt == 0 ? "never" : platform::UtcTimeText(ban.EndsAt) + " UTC"),
                   Number("ends_at", ban.EndsAt),
                   Field("reason", "", ban.Reason),
                   Field("origin", "Origin", origin),
                   Field("by", "By", by),
                   Field("server", "Server", ban.Server),
                   Field("", "Evidence",
                         ban.Evidence.empty() ? "" : std::to_string(ban.Evidence.size()) + " screenshots kept"),
                   Number("screenshots", static_cast<int64_t>(ban.Evidence.size()))};
  return notice;
}

TNotice LiftNotice(const std::string& server, const std::string& identifier, const TBanLift& lift, int removed,
                   int64_t at) {
  TNotice notice;
  notice.Event = "lift";
  notice.Summary = "Ban of ID " + identifier + " lifted on " + server + " by " + lift.By + " (" + lift.From + ")" +
                   (lift.Reason.empty() ? "" : ": " + lift.Reason);
  notice.Title = "Lift: " + identifier;
  notice.Description = lift.Reason;
  notice.Colour = kGreen;
  notice.AtUnixSeconds = at;
  notice.Fields = {Field("identifier", "Identifier", identifier),
                   Field("by", "By", lift.By),
                   Field("from", "From", lift.From),
                   Field("reason", "", lift.Reason),
                   Number("removed", removed),
                   Field("server", "Server", server)};
  return notice;
}

TNotice HealthNotice(const std::string& server, const THealthChange& change, int64_t at) {
  const std::string now = HealthName(change.Now);
  const std::string before = change.Before == RconHealth::Unknown ? "" : HealthName(change.Before);
  TNotice notice;
  notice.Event = "health";
  notice.Summary = "Game server " + server + ": " + now + (before.empty() ? "" : " (was: " + before + ")");
  notice.Title = "Game server: " + now;
  notice.Colour = change.Now == RconHealth::Answering ? kGreen : kOrange;
  notice.AtUnixSeconds = at;
  notice.Fields = {Field("server", "Server", server), Field("health", "Health", now),
                   Field("previous", "Before", before)};
  return notice;
}
