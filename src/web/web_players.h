// The web console's actions on the players of the game server: a kick by an
// admin from the Players tab (a ban goes through the bans' POST).
#pragma once

#include <string>

#include "accounts/audit_writer.h"
#include "base/settings.h"
#include "rcon/rcon_client.h"
#include "supervision/supervision_report.h"
#include "web/web_users.h"

struct THttpRequest;
struct THttpResponse;

// POST /api/players/kick: userid (or, without one, name) of a player of the
// last supervision run's list, and reason. Kicks through the remote console,
// by userid when the list gave one; holds nothing of the tables while the
// game server answers. Written to the full log and to the audit trail (audit
// may be null) when the game server took it; 404 for a player not on the
// list, 502 when the game server did not take the kick.
void ServePlayerKick(const SettingsRecord& settings, const TLastSupervisionReport& report, TRconClient& rcon,
                     TAuditWriter* audit, const THttpRequest& request, const TWebUser& user, const std::string& peer,
                     THttpResponse& response);
