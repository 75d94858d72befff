#include "web/web_console.h"

#include <httplib.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "base/limits.h"
#include "base/metrics.h"
#include "base/numbers.h"
#include "base/settings.h"
#include "game/ban_store.h"
#include "game/supervision_report.h"
#include "log/logs.h"
#include "platform/clock_text.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/socket.h"
#include "registry/tables.h"
#include "screens/screen_server.h"
#include "web/web_access.h"
#include "web/web_json.h"

namespace {

constexpr const char* kJson = "application/json";
constexpr size_t kMaxScreensListed = 300;
constexpr size_t kLogTailBytes = 64 * 1024;

std::string RandomHex(size_t bytes) {
  std::random_device random;
  std::string out;
  const char* digits = "0123456789abcdef";
  for (size_t i = 0; i < bytes; ++i) {
    const unsigned value = random() & 0xFF;
    out += digits[value >> 4];
    out += digits[value & 0x0F];
  }
  return out;
}

// The last lines of a log file; none when it cannot be read.
std::vector<std::string> LogTail(const std::string& name) {
  std::string bytes;
  if (!platform::ReadFileTail(LogDirectory() + name, kLogTailBytes, bytes)) return {};
  std::vector<std::string> lines = platform::SplitTextLines(bytes);
  if (bytes.size() == kLogTailBytes && !lines.empty()) lines.erase(lines.begin());  // cut in two
  if (lines.size() > kWebLogLines) lines.erase(lines.begin(), lines.end() - kWebLogLines);
  return lines;
}

bool IsDottedAddress(const std::string& text) { return platform::ParseDottedAddress(text).has_value(); }

// A screenshot file name: "^date^time^IP^address^ID^identifier.jpg".
bool IsScreenFileName(const std::string& name) {
  return name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0 && name[0] != '.' &&
         name.find('/') == std::string::npos;
}

std::string IdentifierOf(const std::string& file) {
  const size_t at = file.rfind("^ID^");
  return at == std::string::npos ? std::string() : file.substr(at + 4, file.size() - 4 - (at + 4));
}

// Every screenshot under the screen directory, newest first: one level of
// address directories, the JPEG files in each; nothing else is looked at.
std::vector<TScreenFile> ListScreens() {
  std::vector<TScreenFile> screens;
  const std::string root = ScreenRootDirectory();
  std::vector<platform::DirectoryEntry> addresses;
  if (!platform::ListDirectory(root, addresses)) return screens;
  for (const platform::DirectoryEntry& address : addresses) {
    if (!address.IsDirectory || !IsDottedAddress(address.Name)) continue;
    std::vector<platform::DirectoryEntry> files;
    if (!platform::ListDirectory(root + address.Name, files)) continue;
    for (const platform::DirectoryEntry& file : files) {
      if (file.IsDirectory || !IsScreenFileName(file.Name)) continue;
      screens.push_back({address.Name, file.Name, IdentifierOf(file.Name), file.Bytes, file.ModifiedUnixSeconds});
    }
  }
  std::sort(screens.begin(), screens.end(), [](const TScreenFile& a, const TScreenFile& b) {
    return a.ModifiedUnixSeconds != b.ModifiedUnixSeconds ? a.ModifiedUnixSeconds > b.ModifiedUnixSeconds
                                                          : a.File > b.File;
  });
  if (screens.size() > kMaxScreensListed) screens.resize(kMaxScreensListed);
  return screens;
}

// The path of a listed screenshot; empty for anything the listing does not
// hold, so no text from a request reaches the file system unchecked.
std::string ListedScreenPath(const std::string& address, const std::string& file) {
  if (!IsDottedAddress(address) || !IsScreenFileName(file)) return std::string();
  std::vector<platform::DirectoryEntry> files;
  const std::string dir = ScreenRootDirectory() + address;
  if (!platform::ListDirectory(dir, files)) return std::string();
  for (const platform::DirectoryEntry& entry : files) {
    if (!entry.IsDirectory && entry.Name == file) return dir + "/" + entry.Name;
  }
  return std::string();
}

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

// What /metrics reads besides the counters, copied by the request's thread.
struct TMetricsFacts {
  size_t Clients = 0;
  size_t Players = 0;
  size_t Bans = 0;
  RconHealth Health = RconHealth::Unknown;
  int64_t LastRunUnixSeconds = 0;  // 0: no supervision run yet
  int64_t StartedUnixSeconds = 0;
};

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
  out += Gauge("acserver_bans_in_force", "Bans in the ban base now.", static_cast<int64_t>(facts.Bans));
  out += Family("acserver_kicks_total", "counter", "Players kicked by supervision, by reason.",
                {{"reason=\"no_client\"", count(Metrics.KicksNoClient)},
                 {"reason=\"client_silent\"", count(Metrics.KicksClientSilent)},
                 {"reason=\"client_elsewhere\"", count(Metrics.KicksClientElsewhere)}});
  out += Counter("acserver_bans_total", "Bans carried out.", Metrics.Bans);
  out += Family("acserver_cheat_reports_total", "counter", "Cheat reports from clients, by result.",
                {{"result=\"banned\"", count(Metrics.Bans)}, {"result=\"refused\"", count(Metrics.BanRefusals)}});
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
  out += Family("acserver_build_info", "gauge", "The program's version; always 1.",
                {{"version=\"" + LabelValue(kVersionText) + "\"", "1"}});
  out += Gauge("process_start_time_seconds", "Start time of the process since unix epoch in seconds.",
               facts.StartedUnixSeconds);
  return out;
}

}  // namespace

std::unique_ptr<TWebConsole> TWebConsole::Start(TRconClient& rcon) {
  const std::string& listen = Settings.WebListen;
  if (listen.empty()) return nullptr;
  const size_t colon = listen.rfind(':');
  const std::string host = colon == std::string::npos ? listen : listen.substr(0, colon);
  const std::optional<uint32_t> address = platform::ParseDottedAddress(host);
  const std::optional<int32_t> port =
      colon == std::string::npos ? std::nullopt : ParseInteger(listen.substr(colon + 1));
  if (!address || !port || *port < 1 || *port > 65535) {
    platform::ConsoleLine("Web console not started: web_listen must be an IPv4 address and a port, as "
                          "\"127.0.0.1:8080\", not \"" + listen + "\"");
    return nullptr;
  }
  const bool loopback = (*address >> 24) == 127;
  if (!loopback && Settings.WebPassword.empty()) {
    platform::ConsoleLine("Web console not started: " + listen +
                          " is not a loopback address, and web_password is empty");
    return nullptr;
  }
  std::unique_ptr<TWebConsole> console(new TWebConsole(rcon, Settings.WebPassword));
  console->Route();
  if (!console->http_->bind_to_port(host, *port)) {
    platform::ConsoleLine("Web console not started: it could not listen on " + listen);
    return nullptr;
  }
  httplib::Server* http = console->http_.get();
  console->listener_ = std::thread([http] { http->listen_after_bind(); });
  console->address_ = "http://" + listen + "/";
  platform::ConsoleLine("Web console: " + console->address_ +
                        (Settings.WebPassword.empty() ? " (no password: loopback only)" : " (user admin)"));
  return console;
}

TWebConsole::TWebConsole(TRconClient& rcon, const std::string& password)
    : rcon_(rcon),
      access_(std::make_unique<TWebAccess>(password)),
      http_(std::make_unique<httplib::Server>()),
      token_(RandomHex(16)),
      startedUnixSeconds_(platform::UnixSeconds()) {}

TWebConsole::~TWebConsole() { Stop(); }

void TWebConsole::Stop() {
  if (!listener_.joinable()) return;
  http_->stop();
  listener_.join();
}

void TWebConsole::Route() {
  httplib::Server& http = *http_;
  // The library writes the headers and the body apart: without TCP_NODELAY
  // every answer after the first on a connection waits for the browser's
  // delayed acknowledgement (about 40 ms).
  http.set_tcp_nodelay(true);
  http.set_read_timeout(kWebTimeoutSeconds, 0);
  http.set_write_timeout(kWebTimeoutSeconds, 0);
  http.set_payload_max_length(kWebMaxRequestBytes);
  // The page's script and style carry the per-process nonce; nothing else
  // runs, and nothing is fetched from anywhere but here.
  http.set_default_headers({
      {"Content-Security-Policy", "default-src 'none'; script-src 'nonce-" + token_ + "'; style-src 'nonce-" +
                                      token_ + "'; img-src 'self'; connect-src 'self'; base-uri 'none'; "
                                      "form-action 'none'; frame-ancestors 'none'"},
      {"X-Content-Type-Options", "nosniff"},
      {"Referrer-Policy", "no-referrer"},
      {"Cache-Control", "no-store"},
  });

  http.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
    switch (access_->Check(request.remote_addr, request.get_header_value("Authorization"))) {
      case TWebAccess::Verdict::Allowed:
        return httplib::Server::HandlerResponse::Unhandled;
      case TWebAccess::Verdict::WrongPassword:
        response.status = 401;
        response.set_header("WWW-Authenticate", "Basic realm=\"acserver\", charset=\"UTF-8\"");
        response.set_content("password needed\n", "text/plain");
        break;
      case TWebAccess::Verdict::LockedOut:
        response.status = 429;
        response.set_content("too many wrong passwords: try again in a minute\n", "text/plain");
        break;
    }
    return httplib::Server::HandlerResponse::Handled;
  });

  http.Get("/", [this](const httplib::Request&, httplib::Response& response) {
    std::string page = kConsolePage;
    for (size_t at = page.find("{{TOKEN}}"); at != std::string::npos; at = page.find("{{TOKEN}}", at)) {
      page.replace(at, 9, token_);
    }
    response.set_content(page, "text/html; charset=utf-8");
  });
  http.Get("/api/status", [this](const httplib::Request&, httplib::Response& response) {
    TStatusFacts facts;
    facts.Health = rcon_.Health();
    facts.GameServer = Settings.RconHost + ":" + std::to_string(Settings.RconPort);
    facts.NowUnixSeconds = platform::UnixSeconds();
    facts.StartedUnixSeconds = startedUnixSeconds_;
    facts.Clients = SnapshotClients().size();
    std::vector<TBanView> bans;
    BanStore().List(bans, nullptr);
    facts.Bans = bans.size();
    facts.ScreensOn = Settings.AllowScreens;
    response.set_content(StatusJson(facts, LastSupervisionReport()), kJson);
  });
  http.Get("/api/players", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(PlayersJson(LastSupervisionReport()), kJson);
  });
  http.Get("/api/clients", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(ClientsJson(SnapshotClients()), kJson);
  });
  http.Get("/api/bans", [](const httplib::Request&, httplib::Response& response) {
    std::vector<TBanView> bans;
    std::string error;
    if (!BanStore().List(bans, &error)) {
      response.status = 500;
      response.set_content("{\"error\":" + JsonString(error) + "}", kJson);
      return;
    }
    response.set_content(BansJson(bans), kJson);
  });
  http.Post("/api/bans/lift", [this](const httplib::Request& request, httplib::Response& response) {
    if (!ConstantTimeEquals(request.get_header_value("X-Console-Token"), token_)) {
      response.status = 403;
      response.set_content("{\"error\":\"the page's token is missing\"}", kJson);
      return;
    }
    const std::string identifier = request.get_param_value("identifier");
    const LiftResult lifted = identifier.empty() ? LiftResult{0, "no identifier"} : BanStore().Lift(identifier);
    if (!lifted.Error.empty()) {
      response.status = identifier.empty() ? 400 : 500;
      response.set_content("{\"error\":" + JsonString(lifted.Error) + "}", kJson);
      return;
    }
    if (lifted.Removed > 0) {
      WriteEvent("Ban of ID " + identifier + " lifted from the web console (" + request.remote_addr + ")");
    }
    response.set_content("{\"removed\":" + std::to_string(lifted.Removed) + "}", kJson);
  });
  http.Get("/api/screens", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(ScreensJson(ListScreens()), kJson);
  });
  http.Get(R"(/screens/([^/]+)/([^/]+))", [](const httplib::Request& request, httplib::Response& response) {
    const std::string path = ListedScreenPath(request.matches[1], request.matches[2]);
    std::string bytes;
    if (path.empty() || !platform::ReadWholeFile(path, bytes)) {
      response.status = 404;
      response.set_content("no such screenshot\n", "text/plain");
      return;
    }
    response.set_content(bytes, "image/jpeg");
  });
  http.Get("/api/logs", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(LogsJson(LogTail("zelk_logs.txt"), LogTail("zelk_light_logs.txt")), kJson);
  });
  http.Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
    const TSupervisionReport report = LastSupervisionReport();
    TMetricsFacts facts;
    for (const TReportedPlayer& player : report.Players) {
      facts.Players += player.Kind == PlayerKind::Player ? 1 : 0;
    }
    facts.Clients = SnapshotClients().size();
    std::vector<TBanView> bans;
    BanStore().List(bans, nullptr);
    facts.Bans = bans.size();
    facts.Health = rcon_.Health();
    facts.LastRunUnixSeconds = report.AtUnixSeconds;
    facts.StartedUnixSeconds = startedUnixSeconds_;
    response.set_content(MetricsText(facts), "text/plain; version=0.0.4");
  });
}
