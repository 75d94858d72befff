// The web console: an HTTP server inside the program, on threads of its own,
// that shows the admin who is protected, the clients, the bans (with a lift
// button), the screenshots and the logs, from a JSON API that the one embedded
// page reads every few seconds, plus /metrics in the Prometheus text format.
//
// It reads copies: the client table under BusyFlag for the copy only, the
// last supervision run's report, the ban base through its own lock. So a slow
// or hostile browser never holds anything that supervision or a client
// command waits for. Off unless "web_listen" is set; on any address but
// loopback only with "web_password".
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "game/rcon_client.h"

namespace httplib {
class Server;
}

class TWebAccess;

class TWebConsole {
 public:
  // Checks the settings and starts listening. Null, after a console line that
  // says why, when the console stays off or cannot listen. Main thread only.
  static std::unique_ptr<TWebConsole> Start(TRconClient& rcon);
  ~TWebConsole();
  TWebConsole(const TWebConsole&) = delete;
  TWebConsole& operator=(const TWebConsole&) = delete;

  // The address the console listens on, as "http://IP:port/".
  const std::string& Address() const { return address_; }
  // Stops accepting, ends the requests under way and joins the threads.
  // Idempotent. Main thread only.
  void Stop();

 private:
  TWebConsole(TRconClient& rcon, const std::string& password);
  void Route();

  TRconClient& rcon_;
  std::unique_ptr<TWebAccess> access_;
  std::unique_ptr<httplib::Server> http_;
  std::thread listener_;
  std::string address_;
  std::string token_;  // per process: every change must carry it
  int64_t startedUnixSeconds_ = 0;
};

// The page, as embedded at build time from console.html.
extern const char* const kConsolePage;
