#include "web/web_players.h"

#include <algorithm>
#include <optional>

#include "base/limits.h"
#include "base/numbers.h"
#include "log/logs.h"
#include "rcon/rcon_limits.h"
#include "rcon/text_fields.h"
#include "web/http_server.h"
#include "web/web_accounts.h"
#include "web/web_bans.h"
#include "web/web_json.h"

void ServePlayerKick(const SettingsRecord& settings, const TLastSupervisionReport& report, TRconClient& rcon,
                     TAuditWriter* audit, const THttpRequest& request, const TWebUser& user, const std::string& peer,
                     THttpResponse& response) {
  const std::string userIdText = request.Param("userid");
  const std::string name = request.Param("name");
  const std::string reason = request.Param("reason");
  if (reason.empty() || reason.size() > kLogFieldChars) {
    return SetJsonError(response, 400, "reason must have 1 to " + std::to_string(kLogFieldChars) + " bytes");
  }
  const std::optional<int32_t> userId = userIdText.empty() ? std::nullopt : ParseInteger(userIdText);
  if (!userIdText.empty() && (!userId || *userId < 1)) return SetJsonError(response, 400, "userid must be 1 or more");
  if (!userId && name.empty()) return SetJsonError(response, 400, "userid or name needed");
  // Only a player the admin could see: one of the last run's list. A userid
  // is never given again while the game server runs, so it names that one
  // player even if he left and another took his name.
  const TSupervisionReport last = report.Get();
  const auto player = std::find_if(last.Players.begin(), last.Players.end(), [&](const TReportedPlayer& p) {
    return userId ? p.UserId == *userId : p.Name == name;
  });
  if (player == last.Players.end()) {
    return SetJsonError(response, 404, "no such player in the last supervision run's list");
  }
  const std::string command = AdminKickCommand(settings, player->Name, player->UserId, reason);
  const RconOutcome outcome = rcon.Exchange(command).Outcome;
  const std::string who =
      "\"" + NeutraliseRconText(player->Name) + "\"" + (player->Address.empty() ? "" : " (" + player->Address + ")");
  if (outcome != RconOutcome::Answered) {
    WriteEvent("Kick of " + who + " from the web console (" + peer + ") not delivered (" +
               RconOutcomeText(outcome) + "): " + LogField(reason));
    return SetJsonError(response, 502, "the game server did not take the kick (" + RconOutcomeText(outcome) + ")");
  }
  WriteEvent("Kick of " + who + " made from the web console (" + peer + "): " + LogField(reason));
  AuditWeb(audit, user, peer, "kick", player->Name, reason);
  response.Set(200,
               "{\"kicked\":true,\"name\":" + JsonString(player->Name) + ",\"userid\":" +
                   std::to_string(player->UserId) + "}",
               "application/json; charset=utf-8");
}
