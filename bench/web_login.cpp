// The cost of a login to the web console with an account (argon2id), and
// what it does to everyone else's requests. Three figures, side by side in
// one run:
//   1. a login's round trip (Basic credentials, no session: the hash is
//      checked) against a request of the same path with a session cookie;
//   2. the round trips of /api/status on a connection of their own, quiet and
//      while another client logs in without pause: the ratio loaded / quiet
//      shows whether a login holds up other requests (the web console's
//      threads are shared; the hash runs under no lock);
//   3. goal: a login under 0.5 s.
//
//   web_login [logins, default 20] [status requests per condition, default 400]
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "accounts/password_hash.h"
#include "bans/records/account_base.h"
#include "bench_support.h"
#include "platform/program_dir.h"
#include "platform/socket.h"
#include "supervision/server_state.h"
#include "supervision/supervision_report.h"
#include "web/web_console.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int logins = argc > 1 ? std::max(3, std::atoi(argv[1])) : 20;
  const int requests = argc > 2 ? std::max(20, std::atoi(argv[2])) : 400;
  const std::string dir = (std::filesystem::temp_directory_path() / "acserver-bench-login").string() + "/";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  platform::SetDataDirectory(dir);
  records::TSqliteAccounts accounts(dir + "acserver.db");
  std::string error;
  if (!accounts.Add({"ann", AccountRole::Owner, HashPassword("ann-secret").value_or(""), false, 0, 0}, &error)) {
    Die(error);
  }
  TServerState state;
  const int port = [] {
    std::string e;
    auto probe = platform::TTcpListener::Open(0, 1, &e, /*loopbackOnly=*/true);
    if (!probe) Die(e);
    return probe->LocalPort();
  }();
  state.Settings.WebListen = "127.0.0.1:" + std::to_string(port);
  TLastSupervisionReport last;
  std::unique_ptr<TWebConsole> console = TWebConsole::Start(
      {state.Settings, state.Tables, state.Bans, last, state.Rcon, state.Enforcement, &accounts});
  if (!console) Die("the web console did not start");

  // 1. A login against a request with a session.
  std::vector<double> login, session;
  std::string cookie;
  for (int i = 0; i < logins; ++i) {
    httplib::Client fresh("127.0.0.1", port);
    fresh.set_basic_auth("ann", "ann-secret");
    const auto start = Clock::now();
    const httplib::Result result = fresh.Get("/");
    login.push_back(MsSince(start));
    if (!result || result->status != 200) Die("login failed");
    cookie = result->get_header_value("Set-Cookie");
  }
  cookie = cookie.substr(0, cookie.find(';'));
  httplib::Client withSession("127.0.0.1", port);
  withSession.set_keep_alive(true);
  for (int i = 0; i < logins * 10; ++i) {
    const auto start = Clock::now();
    const httplib::Result result = withSession.Get("/", {{"Cookie", cookie}});
    session.push_back(MsSince(start));
    if (!result || result->status != 200) Die("session request failed");
  }

  // 2. Others' requests, quiet and while logins run without pause.
  std::vector<double> status[2];
  for (int loaded = 0; loaded < 2; ++loaded) {
    std::atomic<bool> stop{false};
    std::thread logger;
    if (loaded) {
      logger = std::thread([&] {
        while (!stop) {
          httplib::Client fresh("127.0.0.1", port);
          fresh.set_basic_auth("ann", "ann-secret");
          fresh.Get("/api/me");
        }
      });
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    for (int i = 0; i < requests; ++i) {
      httplib::Client other("127.0.0.1", port);  // a new connection each: the server places it anew
      const auto start = Clock::now();
      const httplib::Result result = other.Get("/api/status", {{"Cookie", cookie}});
      status[loaded].push_back(MsSince(start));
      if (!result || result->status != 200) Die("status request failed");
    }
    stop = true;
    if (logger.joinable()) logger.join();
  }
  console->Stop();
  std::printf("web_login: %d logins, %d status requests per condition\n", logins, requests);
  std::printf("login (argon2id)       p50 %7.1f ms  p99 %7.1f ms   (goal < 500 ms: %s)\n", Quantile(login, 0.5),
              Quantile(login, 0.99), Quantile(login, 0.99) < 500 ? "met" : "MISSED");
  std::printf("with a session         p50 %7.2f ms  p99 %7.2f ms   ratio login / session p50 %.0f\n",
              Quantile(session, 0.5), Quantile(session, 0.99), Quantile(login, 0.5) / Quantile(session, 0.5));
  std::printf("status, quiet          p50 %7.2f ms  p99 %7.2f ms\n", Quantile(status[0], 0.5), Quantile(status[0], 0.99));
  std::printf("status, logins running p50 %7.2f ms  p99 %7.2f ms   ratio p50 %.2f  p99 %.2f\n",
              Quantile(status[1], 0.5), Quantile(status[1], 0.99), Quantile(status[1], 0.5) / Quantile(status[0], 0.5),
              Quantile(status[1], 0.99) / Quantile(status[0], 0.99));
  return 0;
}
