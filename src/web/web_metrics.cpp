#include "web/web_metrics.h"

#include <atomic>
#include <utility>
#include <vector>

#include "base/limits.h"
#include "base/metrics.h"

namespace {

// A label value as the Prometheus text format writes it: backslash, double
// quote and line feed escaped, so no value can end the label or the line.
std::string LabelValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

// One metric family: its HELP and TYPE lines once, then its samples, each as
// {labels, value}; an empty labels text for a sample without labels.
std::string Family(const std::string& name, const char* type, const std::string& help,
                   const std::vector<std::pair<std::string, std::string>>& samples) {
  std::string out = "# HELP " + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  for (const auto& [labels, value] : samples) {
    out += name + (labels.empty() ? std::string() : "{" + labels + "}") + " " + value + "\n";
  }
  return out;
}

std::string Counter(const std::string& name, const std::string& help, uint64_t value) {
  return Family(name, "counter", help, {{"", std::to_string(value)}});
}

std::string Gauge(const std::string& name, const std::string& help, int64_t value) {
  return Family(name, "gauge", help, {{"", std::to_string(value)}});
}

}  // namespace

std::string MetricsText(const TMetricsFacts& facts) {
  const auto count = [](const std::atomic<uint64_t>& counter) { return std::to_string(counter.load()); };
  std::string out;
  out += Family("acserver_game_server_up", "gauge",
                "1 while the game server answers our remote console, else 0; state is its health.",
                {{"state=\"" + LabelValue(HealthName(facts.Health)) + "\"",
                  facts.Health == RconHealth::Answering ? "1" : "0"}});
  out += Gauge("acserver_last_supervision_timestamp_seconds",
               "Unix time of the last supervision run; 0 before the first.", facts.LastRunUnixSeconds);
  out += Gauge("acserver_clients_connected", "Anti-cheat clients registered now.", static_cast<int64_t>(facts.Clients));
  out += Gauge("acserver_players_seen", "Players on the game server at the last supervision run.",
               static_cast<int64_t>(facts.Players));
  out += Gauge("acserver_records_up", "1 while the ban records (acserver.db) can be written and read, else 0.",
               facts.RecordsUp ? 1 : 0);
  out += Gauge("acserver_bans_in_force", "Bans in the ban base now.", static_cast<int64_t>(facts.Bans));
  out += Family("acserver_kicks_total", "counter", "Players kicked by supervision, by reason.",
                {{"reason=\"no_client\"", count(Metrics.KicksNoClient)},
                 {"reason=\"client_silent\"", count(Metrics.KicksClientSilent)},
                 {"reason=\"client_elsewhere\"", count(Metrics.KicksClientElsewhere)},
                 {"reason=\"banned\"", count(Metrics.KicksBanned)}});
  out += Counter("acserver_kicks_not_delivered_total",
                 "Supervision kicks not delivered (the game server did not take the command).",
                 Metrics.KicksNotDelivered);
  out += Family("acserver_bans_total", "counter", "Bans carried out, by origin: a cheat report, or by hand on the web console.",
                {{"origin=\"report\"", count(Metrics.BansByReport)},
                 {"origin=\"web\"", count(Metrics.BansByWeb)}});
  out += Family("acserver_cheat_reports_total", "counter", "Cheat reports from clients, by result.",
                {{"result=\"banned\"", count(Metrics.BansByReport)},
                 {"result=\"refused\"", count(Metrics.BanRefusals)}});
  out += Counter("acserver_connects_refused_banned_total", "Connects refused for a ban.",
                 Metrics.ConnectsRefusedBanned);
  out += Counter("acserver_rcon_exchanges_total", "Remote-console exchanges.", Metrics.RconExchanges);
  out += Counter("acserver_rcon_failures_total", "Remote-console exchanges that failed.", Metrics.RconFailures);
  out += Family("acserver_rcon_exchange_seconds_total", "counter", "Time spent in remote-console exchanges.",
                {{"", std::to_string(static_cast<double>(Metrics.RconExchangeMicros.load()) / 1e6)}});
  out += Counter("acserver_supervision_runs_total", "Supervision runs.", Metrics.SupervisionRuns);
  out += Counter("acserver_screenshots_received_total", "Screenshots received whole.", Metrics.ScreensReceived);
  out += Counter("acserver_screenshot_bytes_total", "Bytes of the screenshots received.", Metrics.ScreenBytes);
  out += Counter("acserver_command_connections_total", "Command-channel connections accepted.",
                 Metrics.CommandConnections);
  out += Family("acserver_notifications_total", "counter",
                "Notifications to the admins' chat, per event and URL: delivered, given up after their tries, "
                "or dropped untried (a full queue, the stop).",
                {{"result=\"sent\"", count(Metrics.NotificationsSent)},
                 {"result=\"failed\"", count(Metrics.NotificationsFailed)},
                 {"result=\"dropped\"", count(Metrics.NotificationsDropped)}});
  out += Family("acserver_build_info", "gauge", "The program's version; always 1.",
                {{"version=\"" + LabelValue(kVersionText) + "\"", "1"}});
  out += Gauge("process_start_time_seconds", "Start time of the process since unix epoch in seconds.",
               facts.StartedUnixSeconds);
  return out;
}
