// The web console: an HTTP server inside the program, on threads of its own,
// that shows the admin who is protected, the clients, the bans (with a lift
// button), the screenshots and the logs, from a JSON API that the one embedded
// page reads every few seconds, plus /metrics in the Prometheus text format.
//
// It reads copies: the client table under BusyFlag for the copy only, the
// last supervision run's report, the ban base through its own lock. So a slow
// or hostile browser never holds anything that supervision or a client
// command waits for. Off unless "web_listen" is set; on any address but
// loopback only with "web_password" or an account. With "web_tls_cert" and
// "web_tls_key" (read once, at start) it speaks HTTPS only, and its session
// cookie is Secure.
//
// Before anything else a request must name this console in its Host header
// (an IPv4 address, "localhost", or a name in "web_hosts"), so a web page that
// rebinds its own name to this address reads nothing; a POST whose Origin
// names another site is refused. The public ban list ("web_public",
// web_public.h) is answered then, without a login. Behind a proxy listed in
// "web_trusted_proxies" the client's address is the last one the proxy added
// to X-Forwarded-For.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/settings.h"
#include "supervision/ban_enforcement.h"
#include "accounts/account_store.h"
#include "bans/appeal.h"
#include "bans/ban_store.h"
#include "rcon/rcon_client.h"
#include "supervision/supervision_report.h"
#include "registry/tables.h"
#include "web/web_bans.h"
#include "web/web_servers.h"

class TWebAccess;
class TWebUsers;
class TAuditWriter;
struct TWebUser;
class TWebSessions;
class THttpServer;
struct THttpRequest;
struct THttpResponse;

class TWebConsole {
 public:
  // What the console shows and changes; every part must outlive the console.
  struct TSources {
    const SettingsRecord& Settings;
    TTables& Tables;
    TBanStoreInUse& Bans;
    const TLastSupervisionReport& Report;  // the last supervision run's
    TRconClient& Rcon;
    TBanEnforcement& Enforcement;  // bans by hand
    TAccountStore* Accounts = nullptr;  // the accounts and the audit trail; null: web_password alone
    TLiftListener OnLift = {};          // told of each lift that ended a ban; may be empty
    TServerLister Servers = {};         // every server of the shared base; empty: this one alone
    TAppealStore* Appeals = nullptr;    // the appeals of the public ban list; null: none are taken
  };
  // Checks the settings and starts listening. Null, after a console line that
  // says why, when the console stays off or cannot listen. Main thread only.
  static std::unique_ptr<TWebConsole> Start(const TSources& sources);
  ~TWebConsole();
  TWebConsole(const TWebConsole&) = delete;
  TWebConsole& operator=(const TWebConsole&) = delete;

  // A console that does not listen: requests reach it through Serve only
  // (the fuzz targets). Its host names are "web_hosts" and "localhost".
  static std::unique_ptr<TWebConsole> Offline(const TSources& sources);

  // Every request: the host and origin checks, the session or the password,
  // then the route. Thread safe; the HTTP server's threads call it.
  void Serve(const THttpRequest& request, THttpResponse& response);

  // The address the console listens on, as "http://IP:port/" (https:// with
  // "web_tls_cert" and "web_tls_key").
  const std::string& Address() const { return address_; }
  // Stops accepting, ends the requests under way and joins the threads.
  // Idempotent; safe at any moment after Start returned. Main thread only.
  void Stop();

 private:
  TWebConsole(const TSources& sources, std::vector<std::string> hosts);
  // The route for an admitted request; peer is the client's address.
  void Route(const THttpRequest& request, const TWebUser& user, const std::string& peer, THttpResponse& response);
  // The client's address: the peer's, or behind a trusted proxy the last
  // one it added to X-Forwarded-For.
  std::string ClientAddress(const THttpRequest& request) const;

  TSources sources_;
  std::unique_ptr<TWebAccess> access_;
  std::unique_ptr<TWebUsers> users_;
  std::unique_ptr<TAuditWriter> audit_;  // when there is an account store
  std::unique_ptr<TWebSessions> sessions_;
  std::vector<std::string> hosts_;    // host names a request may name, lower case
  std::vector<std::string> proxies_;  // "web_trusted_proxies", read once
  std::unique_ptr<THttpServer> http_;
  std::string address_;
  bool tls_ = false;  // HTTPS: the session cookie is Secure
  std::string token_;  // per process: every change must carry it; only ever in the page's body
  int64_t startedUnixSeconds_ = 0;
};

// The page, as embedded at build time from console.html.
extern const char* const kConsolePage;
