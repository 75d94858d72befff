// The servers of the community (/api/servers): on a shared ban base every
// server that writes its heartbeat there, else this server alone, each with
// its state and whether it has gone silent.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/settings.h"
#include "supervision/server_beat.h"
#include "supervision/supervision_report.h"

struct THttpResponse;

// Reads every server's last heartbeat; false with the reason when it cannot.
using TServerLister = std::function<bool(std::vector<TServerBeat>& servers, std::string* error)>;

// {"servers": [{"name", "version", "health", "players", "protected",
// "last_run", "ago_s", "silent", "self"}], "error"}: self marks the row of
// selfName; error is null, or why the shared base could not be read (then
// the list holds this server alone, from its own last report).
std::string ServersJson(const std::vector<TServerBeat>& servers, const std::string& selfName,
                        const std::string& error);

// lister may be empty (no shared base): this server alone, from its report.
void ServeServers(const SettingsRecord& settings, const TLastSupervisionReport& report, const TServerLister& lister,
                  THttpResponse& response);
