#include "web/web_servers.h"

#include "base/json_text.h"
#include "platform/clock_text.h"
#include "web/http_server.h"

std::string ServersJson(const std::vector<TServerBeat>& servers, const std::string& selfName,
                        const std::string& error) {
  std::string items;
  for (const TServerBeat& server : servers) {
    if (!items.empty()) items += ',';
    items += "{\"name\":" + JsonString(server.Name) + ",\"version\":" + JsonString(server.Version) +
             ",\"health\":" + JsonString(server.Health) + ",\"players\":" + std::to_string(server.Players) +
             ",\"protected\":" + std::to_string(server.Protected) + ",\"last_run\":" +
             (server.LastRun == 0 ? std::string("null") : std::to_string(server.LastRun)) +
             ",\"ago_s\":" + std::to_string(server.SilentFor) + ",\"silent\":" + (IsSilent(server) ? "true" : "false") +
             ",\"self\":" + (server.Name == selfName ? "true" : "false") + "}";
  }
  return "{\"servers\":[" + items + "],\"error\":" + (error.empty() ? std::string("null") : JsonString(error)) + "}";
}

void ServeServers(const SettingsRecord& settings, const TLastSupervisionReport& report, const TServerLister& lister,
                  THttpResponse& response) {
  const std::string self = ServerName(settings);
  std::vector<TServerBeat> servers;
  std::string error;
  if (!lister || !lister(servers, &error)) {
    if (lister && error.empty()) error = "the shared ban base did not answer";
    servers = {BeatOf(self, report.Get(), platform::UnixSeconds())};
  }
  response.Set(200, ServersJson(servers, self, error), "application/json; charset=utf-8");
}
