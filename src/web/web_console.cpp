#include "web/web_console.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <utility>
#include <vector>

#include "base/limits.h"
#include "base/numbers.h"
#include "base/settings.h"
#include "bans/ban_store.h"
#include "supervision/supervision_report.h"
#include "log/logs.h"
#include "platform/clock_text.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/program_dir.h"
#include "platform/random_bytes.h"
#include "platform/socket.h"
#include "registry/tables.h"
#include "web/http_server.h"
#include "web/web_access.h"
#include "accounts/audit_writer.h"
#include "web/web_accounts.h"
#include "web/web_appeals.h"
#include "web/web_bans.h"
#include "web/web_json.h"
#include "web/web_metrics.h"
#include "web/web_players.h"
#include "web/web_public.h"
#include "web/web_screens.h"
#include "web/web_servers.h"
#include "web/web_sessions.h"
#include "web/web_users.h"

namespace {

constexpr const char* kJson = "application/json; charset=utf-8";
constexpr const char* kText = "text/plain; charset=utf-8";
constexpr size_t kLogTailBytes = 64 * 1024;

// The last lines of a log file; none when it cannot be read.
std::vector<std::string> LogTail(const std::string& name) {
  std::string bytes;
  if (!platform::ReadFileTail(LogDirectory() + name, kLogTailBytes, bytes)) return {};
  std::vector<std::string> lines = platform::SplitTextLines(bytes);
  if (bytes.size() == kLogTailBytes && !lines.empty()) lines.erase(lines.begin());  // cut in two
  if (lines.size() > kWebLogLines) lines.erase(lines.begin(), lines.end() - kWebLogLines);
  return lines;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The host part of a Host header or of an Origin's authority: no port, lower case.
std::string HostPart(const std::string& authority) {
  const size_t colon = authority.rfind(':');
  const bool bracketed = authority.find(']') != std::string::npos;
  return Lower(colon == std::string::npos || (bracketed && colon < authority.find(']')) ? authority
                                                                                         : authority.substr(0, colon));
}

// The host of an Origin header ("http://name:port"); empty for "null" or junk.
std::string OriginHost(const std::string& origin) {
  const size_t scheme = origin.find("://");
  if (scheme == std::string::npos) return std::string();
  const std::string authority = origin.substr(scheme + 3, origin.find('/', scheme + 3) - (scheme + 3));
  return HostPart(authority);
}

// Whether an Origin header names the site of the Host header a request was
// sent to ("http://10.0.0.5:8080" and "10.0.0.5:8080").
bool SameOrigin(const std::string& origin, const std::string& host) {
  const size_t scheme = origin.find("://");
  if (scheme == std::string::npos || host.empty()) return false;
  return Lower(origin.substr(scheme + 3)) == Lower(host);
}

// The names of "web_hosts": separated by blanks or commas.
std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text + " ") {
    if (c == ' ' || c == ',' || c == '\t') {
      if (!word.empty()) words.push_back(Lower(word));
      word.clear();
    } else {
      word += c;
    }
  }
  return words;
}

// Puts policy in place of the Content-Security-Policy every answer starts with.
void SetPolicy(THttpResponse& response, const std::string& policy) {
  for (auto& [name, value] : response.Headers) {
    if (name == "Content-Security-Policy") value = policy;
  }
}

// A path of the settings: an absolute one as it is, a relative one in the
// data directory (beside zelk_config.txt).
std::string DataPath(const std::string& path) {
  return !path.empty() && path[0] == '/' ? path : platform::DataDirectory() + path;
}

// The certificate and key of "web_tls_cert" and "web_tls_key", read now:
// nullopt with no TLS wanted; a console line and false in ok when the
// console must stay off (one of the two alone, a library without TLS, a file
// that cannot be read).
std::optional<THttpTls> ReadTls(const SettingsRecord& settings, bool& ok) {
  ok = true;
  if (settings.WebTlsCert.empty() && settings.WebTlsKey.empty()) return std::nullopt;
  ok = false;
  if (settings.WebTlsCert.empty() || settings.WebTlsKey.empty()) {
    platform::ConsoleLine("Web console not started: web_tls_cert and web_tls_key go together; set both for "
                          "HTTPS, or neither for plain HTTP");
    return std::nullopt;
  }
  if (!THttpServer::TlsSupported()) {
    platform::ConsoleLine("Web console not started: web_tls_cert is set, but this program's libmicrohttpd has "
                          "no TLS (the Windows build never has); remove web_tls_cert and web_tls_key and serve "
                          "HTTPS from a reverse proxy, or use a libmicrohttpd with TLS (GnuTLS)");
    return std::nullopt;
  }
  THttpTls tls;
  std::string error;
  if (!platform::ReadWholeFile(DataPath(settings.WebTlsCert), tls.CertificatePem, &error)) {
    platform::ConsoleLine("Web console not started: the certificate of web_tls_cert cannot be read (" + error + ")");
    return std::nullopt;
  }
  if (!platform::ReadWholeFile(DataPath(settings.WebTlsKey), tls.KeyPem, &error)) {
    platform::ConsoleLine("Web console not started: the key of web_tls_key cannot be read (" + error + ")");
    return std::nullopt;
  }
  ok = true;
  return tls;
}

}  // namespace

std::unique_ptr<TWebConsole> TWebConsole::Start(const TSources& sources) {
  const SettingsRecord& settings = sources.Settings;
  const std::string& listen = settings.WebListen;
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
  std::vector<std::string> hosts = Words(settings.WebHosts);
  hosts.push_back(host);
  hosts.push_back("localhost");
  std::unique_ptr<TWebConsole> console(new TWebConsole(sources, std::move(hosts)));
  if (!loopback && console->users_->Open()) {
    platform::ConsoleLine("Web console not started: " + listen +
                          " is not a loopback address, and web_password is empty");
    return nullptr;
  }
  bool tlsOk = false;
  const std::optional<THttpTls> tls = ReadTls(settings, tlsOk);
  if (!tlsOk) return nullptr;
  console->tls_ = tls.has_value();
  THttpLimits limits;
  limits.MaxHeadBytes = kWebMaxHeadBytes;
  limits.MaxBodyBytes = kWebMaxRequestBytes;
  limits.MaxConnections = kWebMaxConnections;
  limits.MaxPerAddress = kWebMaxConnectionsPerAddress;
  limits.HeadSeconds = kWebHeadSeconds;
  limits.IdleSeconds = kWebIdleSeconds;
  TWebConsole* raw = console.get();
  std::string error;
  console->http_ = THttpServer::Start(
      *address, static_cast<uint16_t>(*port), limits,
      [raw](const THttpRequest& request, THttpResponse& response) { raw->Serve(request, response); }, &error,
      tls ? &*tls : nullptr);
  if (!console->http_) {
    // With TLS the library's own words say whether the files or the address failed.
    platform::ConsoleLine(tls ? "Web console not started: HTTPS on " + listen + " failed: " + error
                              : "Web console not started: it could not listen on " + listen);
    return nullptr;
  }
  console->address_ = (tls ? "https://" : "http://") + listen + "/";
  const size_t accounts = console->users_->Count();
  platform::ConsoleLine("Web console: " + console->address_ +
                        (accounts > 0                    ? " (" + std::to_string(accounts) + " accounts)"
                         : settings.WebPassword.empty() ? std::string(" (no password: loopback only)")
                                                        : std::string(" (user admin, the password of web_password "
                                                                      "until an account exists)")));
  if (settings.WebPublic) {
    platform::ConsoleLine("Web console: the public ban list and its appeal form are at " + console->address_ +
                          "bans, open to anyone" +
                          (settings.WebPublicEvidence ? ", with the bans' screenshots" : ""));
  }
  return console;
}

std::unique_ptr<TWebConsole> TWebConsole::Offline(const TSources& sources) {
  std::vector<std::string> hosts = Words(sources.Settings.WebHosts);
  hosts.push_back("localhost");
  return std::unique_ptr<TWebConsole>(new TWebConsole(sources, std::move(hosts)));
}

TWebConsole::TWebConsole(const TSources& sources, std::vector<std::string> hosts)
    : sources_(sources),
      access_(std::make_unique<TWebAccess>()),
      users_(std::make_unique<TWebUsers>(sources.Accounts, sources.Settings.WebPassword)),
      audit_(sources.Accounts ? std::make_unique<TAuditWriter>(*sources.Accounts) : nullptr),
      sessions_(std::make_unique<TWebSessions>()),
      hosts_(std::move(hosts)),
      proxies_(Words(sources.Settings.WebTrustedProxies)),
      token_(platform::RandomHex(16)),
      startedUnixSeconds_(platform::UnixSeconds()) {}

TWebConsole::~TWebConsole() { Stop(); }

void TWebConsole::Stop() {
  if (http_) http_->Stop();
}

std::string TWebConsole::ClientAddress(const THttpRequest& request) const {
  const std::string forwarded = request.Header("X-Forwarded-For");
  if (forwarded.empty()) return request.PeerAddress;
  if (std::find(proxies_.begin(), proxies_.end(), request.PeerAddress) == proxies_.end()) return request.PeerAddress;
  const std::vector<std::string> hops = Words(forwarded);
  return hops.empty() || !platform::ParseDottedAddress(hops.back()) ? request.PeerAddress : hops.back();
}

void TWebConsole::Serve(const THttpRequest& request, THttpResponse& response) {
  response.Headers = {{"X-Content-Type-Options", "nosniff"},
                      {"Referrer-Policy", "no-referrer"},
                      {"Cache-Control", "no-store"},
                      {"Content-Security-Policy", "default-src 'none'; frame-ancestors 'none'"}};
  // A name must be one of ours: a page elsewhere can point its own name at
  // this address (DNS rebinding). An address cannot be rebound, so any IPv4
  // address is accepted (a console on 0.0.0.0 is reached by several).
  const std::string host = HostPart(request.Header("Host"));
  if (!platform::ParseDottedAddress(host) && std::find(hosts_.begin(), hosts_.end(), host) == hosts_.end()) {
    response.Set(421, "this console does not answer for that host name (see web_hosts)\n", kText);
    return;
  }
  // A POST from a page of this very origin (the Host it was sent to, which
  // passed the check above: a console reached by its address) or of one of
  // our names; any other site's page is refused.
  const std::string origin = request.Header("Origin");
  if (request.Method != "GET" && !origin.empty() && !SameOrigin(origin, request.Header("Host")) &&
      std::find(hosts_.begin(), hosts_.end(), OriginHost(origin)) == hosts_.end()) {
    SetJsonError(response, 403, "request from another site");
    return;
  }
  const std::string peer = ClientAddress(request);
  if (IsPublicPath(request.Path)) {
    return ServePublic({sources_.Settings, sources_.Bans, sources_.Appeals}, request, peer, response);
  }
  if (users_->Open()) return Route(request, {"admin", AccountRole::Owner}, peer, response);
  // A live session is let in as it is: no password, no throttle; with the
  // role its account has now.
  const std::string session = CookieValue(request.Header("Cookie"), kWebSessionCookie);
  if (const std::optional<TWebUser> opened = sessions_->Use(session)) {
    if (const std::optional<TWebUser> user = users_->Current(*opened)) return Route(request, *user, peer, response);
    sessions_->Close(session);
  }
  const TWebAccess::TResult access =
      access_->Check(peer, request.Header("Authorization"),
                     [this](const std::string& name, const std::string& password) { return users_->Login(name, password); });
  switch (access.Outcome) {
    case TWebAccess::Verdict::Allowed:
      // The password opens a session for a browser that loads the page, or
      // whose session ended while the page stayed open.
      if (request.Path == "/" || !session.empty()) {
        response.Headers.emplace_back("Set-Cookie", TWebSessions::CookieFor(sessions_->Open(*access.User), tls_));
      }
      Route(request, *access.User, peer, response);
      return;
    case TWebAccess::Verdict::WrongPassword:
      response.Set(401, "password needed\n", kText);
      response.Headers.emplace_back("WWW-Authenticate", "Basic realm=\"acserver\", charset=\"UTF-8\"");
      return;
    case TWebAccess::Verdict::Throttled:
      response.Set(429, "too many wrong passwords: try again in 10 seconds\n", kText);
      response.Headers.emplace_back("Retry-After", "10");
      return;
  }
}

void TWebConsole::Route(const THttpRequest& request, const TWebUser& user, const std::string& peer,
                        THttpResponse& response) {
  const std::string& path = request.Path;
  const bool get = request.Method == "GET" || request.Method == "HEAD";
  if (get && path == "/") {
    // The style and the script run by a nonce of their own, new with every
    // page; the token is only in the page's body, never in a header.
    const std::string nonce = platform::RandomHex(16);
    std::string page = kConsolePage;
    for (const auto& [mark, value] : {std::pair<std::string, std::string>{"{{TOKEN}}", token_}, {"{{NONCE}}", nonce}}) {
      for (size_t at = page.find(mark); at != std::string::npos; at = page.find(mark, at)) {
        page.replace(at, mark.size(), value);
      }
    }
    SetPolicy(response, "default-src 'none'; script-src 'nonce-" + nonce + "'; style-src 'nonce-" + nonce +
                            "'; img-src 'self'; connect-src 'self'; base-uri 'none'; form-action 'none'; "
                            "frame-ancestors 'none'");
    response.Set(200, std::move(page), "text/html; charset=utf-8");
  } else if (get && path == "/api/status") {
    TStatusFacts facts;
    facts.Health = sources_.Rcon.Health();
    facts.GameServer = sources_.Settings.RconHost + ":" + std::to_string(sources_.Settings.RconPort);
    facts.NowUnixSeconds = platform::UnixSeconds();
    facts.StartedUnixSeconds = startedUnixSeconds_;
    facts.Clients = SnapshotClients(sources_.Tables).size();
    std::vector<TBanView> bans;
    sources_.Bans.Get().List(bans, nullptr);
    facts.Bans = bans.size();
    facts.ScreensOn = sources_.Settings.AllowScreens;
    const TRecordsHealth records = sources_.Bans.RecordsHealth();
    facts.RecordsUp = records.Up;
    facts.RecordsReason = records.Reason;
    response.Set(200, StatusJson(facts, sources_.Report.Get()), kJson);
  } else if (get && path == "/api/players") {
    const TSupervisionReport report = sources_.Report.Get();
    // Each player's identifier is its client's; the records count its bans.
    std::map<std::string, std::string> identifiers;
    std::vector<std::string> wanted;
    for (const TClientView& client : SnapshotClients(sources_.Tables)) {
      identifiers[client.Name] = client.Identifier;
      wanted.push_back(client.Identifier);
    }
    std::map<std::string, int64_t> counts;
    TBanRecords* records = sources_.Bans.Records();
    if (records == nullptr || !records->CountBans(wanted, counts, nullptr)) counts.clear();
    response.Set(200, PlayersJson(report, identifiers, counts), kJson);
  } else if (get && path == "/api/servers") {
    ServeServers(sources_.Settings, sources_.Report, sources_.Servers, response);
  } else if (get && path == "/api/clients") {
    response.Set(200, ClientsJson(SnapshotClients(sources_.Tables)), kJson);
  } else if (get && path == "/api/bans") {
    ServeBanSearch(sources_.Bans.Get(), request, response);
  } else if (get && path.rfind("/api/bans/", 0) == 0) {
    ServeBanDetails(sources_.Bans.Get(), path.substr(10), request, response);
  } else if (get && path == "/api/me") {
    ServeMe(*users_, user, response);
  } else if (get && path == "/api/accounts") {
    ServeAccountList(*users_, response);
  } else if (get && path == "/api/audit") {
    ServeAudit(sources_.Accounts, request, response);
  } else if (get && path == "/api/appeals") {
    ServeAppealList(sources_.Appeals, request, response);
  } else if (request.Method == "POST" && path == "/api/appeals/answer") {
    if (!ConstantTimeEquals(request.Header("X-Console-Token"), token_)) {
      return SetJsonError(response, 403, "the page's token is missing");
    }
    if (!RoleAllows(user.Role, AccountRole::Admin)) {
      return SetJsonError(response, 403, std::string("the role ") + RoleName(user.Role) +
                                             " may not do this; it needs " + RoleName(AccountRole::Admin));
    }
    ServeAppealAnswer(sources_.Appeals, sources_.Bans.Get(), audit_.get(), request, user, peer, response,
                      sources_.OnLift);
  } else if (request.Method == "POST" && (path == "/api/bans" || path == "/api/bans/lift" || path == "/api/logout" ||
                                          path == "/api/players/kick" || path == "/api/accounts" ||
                                          path.rfind("/api/accounts/", 0) == 0)) {
    if (!ConstantTimeEquals(request.Header("X-Console-Token"), token_)) {
      return SetJsonError(response, 403, "the page's token is missing");
    }
    const bool accounts = path.rfind("/api/accounts", 0) == 0;
    const AccountRole needed = path == "/api/logout" ? AccountRole::Viewer
                               : accounts            ? AccountRole::Owner
                                                     : AccountRole::Admin;
    if (!RoleAllows(user.Role, needed)) {
      return SetJsonError(response, 403,
                          std::string("the role ") + RoleName(user.Role) + " may not do this; it needs " +
                              RoleName(needed));
    }
    if (path == "/api/logout") {
      sessions_->Close(CookieValue(request.Header("Cookie"), kWebSessionCookie));
      response.Headers.emplace_back("Set-Cookie", TWebSessions::ExpiredCookie(tls_));
      response.Set(200, "{\"logged_out\":true}", kJson);
    } else if (accounts) {
      ServeAccountChange(*users_, audit_.get(), path, request, user, peer, response);
    } else if (path == "/api/players/kick") {
      ServePlayerKick(sources_.Settings, sources_.Report, sources_.Rcon, audit_.get(), request, user, peer, response);
    } else if (path == "/api/bans") {
      ServeBanByHand(sources_.Tables, sources_.Enforcement, audit_.get(), request, user, peer, response);
    } else {
      ServeBanLift(sources_.Bans.Get(), audit_.get(), request, user, peer, response, sources_.OnLift);
    }
  } else if (get && path == "/api/screens") {
    response.Set(200, ScreensJson(ListScreens(sources_.Settings)), kJson);
  } else if (get && path.rfind("/screens/", 0) == 0) {
    const std::string rest = path.substr(9);
    const size_t slash = rest.find('/');
    const std::string file =
        slash == std::string::npos
            ? std::string()
            : ListedScreenPath(sources_.Settings, rest.substr(0, slash), rest.substr(slash + 1));
    std::string bytes;
    if (file.empty() || !platform::ReadWholeFile(file, bytes)) {
      response.Set(404, "no such screenshot\n", kText);
      return;
    }
    response.Set(200, std::move(bytes), "image/jpeg");
  } else if (get && path == "/api/logs") {
    response.Set(200, LogsJson(LogTail("zelk_logs.txt"), LogTail("zelk_light_logs.txt")), kJson);
  } else if (get && path == "/metrics") {
    const TSupervisionReport report = sources_.Report.Get();
    TMetricsFacts facts;
    for (const TReportedPlayer& player : report.Players) facts.Players += player.Kind == PlayerKind::Player ? 1 : 0;
    facts.Clients = SnapshotClients(sources_.Tables).size();
    std::vector<TBanView> bans;
    sources_.Bans.Get().List(bans, nullptr);
    facts.Bans = bans.size();
    facts.Health = sources_.Rcon.Health();
    facts.LastRunUnixSeconds = report.AtUnixSeconds;
    facts.StartedUnixSeconds = startedUnixSeconds_;
    facts.RecordsUp = sources_.Bans.RecordsHealth().Up;
    response.Set(200, MetricsText(facts), "text/plain; version=0.0.4; charset=utf-8");
  } else {
    response.Set(404, "not found\n", kText);
  }
}
