// The supervision cycle: the game server's players checked against the
// clients and the allow-list, every 30 ticks of the main loop.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "rcon/rcon_client.h"
#include "base/settings.h"
#include "supervision/status_mark.h"
#include "supervision/supervision_report.h"
#include "registry/tables.h"

// A ban in force on an identifier.
struct TBanFinding {
  int32_t MinutesLeft = 0;  // 0: for ever
  std::string Reason;       // of its newest record; empty when none is known
};
// What the ban base says of the banned ones among the identifiers looked up.
using TBanFindings = std::map<std::string, TBanFinding>;
// Looks identifiers up in the ban base in use (bans in flight included), with
// one look-up of the base. Called by the supervision once a run, without
// BusyFlag.
using TBanCheck = std::function<TBanFindings(const std::set<std::string>& identifiers)>;

// The supervision of one game server: its memory between runs and the last
// run's report. The server object owns it.
class TSupervision {
 public:
  // settings, tables and rcon must outlive the supervision.
  TSupervision(const SettingsRecord& settings, TTables& tables, TRconClient& rcon)
      : settings_(settings), tables_(tables), rcon_(rcon) {}
  TSupervision(const TSupervision&) = delete;
  TSupervision& operator=(const TSupervision&) = delete;

  // One run: asks the game server for its players, rebuilds the player table,
  // kicks every player who has neither a live client nor an allow-list entry,
  // counts one more silent period for every client and drops the clients
  // silent for too long. markChanged runs when the game server's status mark
  // differs from the kept one (the owner reloads the allow-list into
  // allowList and refreshes the registration there), before the kick pass
  // reads allowList; it runs without BusyFlag. Holds BusyFlag only to copy
  // the clients at the start and to apply the answer to the tables, never
  // across a remote-console exchange. Main thread only.
  void Run(const std::vector<std::string>& allowList, const std::function<void()>& markChanged);

  // Tells the supervision that a ban took the named player's client and kicks
  // the player itself: the next kick pass leaves the player alone, since its
  // list may be older than the ban's kick.
  void NoteBanKick(const TBusyGuard& busy, const std::string& name) REQUIRES(busy.Flag());
  // Tells the supervision that a connect was refused for a ban: a player of
  // that name at that address who is still playing is kicked for the ban
  // (with its time left and reason), not as one without a client.
  void NoteBanRefusal(const TBusyGuard& busy, const std::string& name, const std::string& address,
                      const std::string& identifier) REQUIRES(busy.Flag());
  // How every run learns whether a registered client's identifier (or a
  // refused one) is banned: a ban made anywhere (a report, the web console,
  // acserver-bans, another server of a shared base) reaches a player who is
  // already playing. Without it only bans made here kick. Main thread, before
  // the first run.
  void SetBanCheck(TBanCheck check) { banCheck_ = std::move(check); }
  // Nobody is kicked for having no client (or a silent one) until `length`
  // has passed, so that the clients of the players already on the game server
  // can reconnect after a start; banned players are kicked all the same. Says
  // on the console when it ends. Main thread, before the first run.
  void BeginStartupGrace(std::chrono::milliseconds length);
  // Called with the hostname of every status list read (the chat cuts its
  // say lines to fit it). Main thread, before the first run.
  void SetHostnameListener(std::function<void(const std::string&)> listener) { hostnameListener_ = std::move(listener); }

  // The last run's report, for readers on any thread.
  const TLastSupervisionReport& Report() const { return report_; }
  // What the runs keep. Main thread only.
  const TSupervisionMemory& Memory() const { return memory_; }

 private:
  const SettingsRecord& settings_;
  TTables& tables_;
  TRconClient& rcon_;
  TSupervisionMemory memory_;
  TLastSupervisionReport report_;
  TBanCheck banCheck_;
  std::function<void(const std::string&)> hostnameListener_;
  std::chrono::steady_clock::time_point graceEnds_{};
  bool graceActive_ = false;
  std::string graceEndText_;  // the local time at which the grace ends, for the console
};
