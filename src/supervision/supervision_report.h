// What the last supervision run saw and did, for the web console: written by
// the run on the main thread, read as a copy by any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/mutex.h"
#include "rcon/engine_status.h"
#include "rcon/rcon_client.h"

// Grace: left alone only because the startup grace was on (not protected).
enum class Protection { Client, AllowList, Grace, None };

struct TReportedPlayer {
  std::string Name;
  std::string Address;  // without the port; empty for bots and players still connecting
  int32_t Port = 0;
  int32_t UserId = 0;
  PlayerKind Kind = PlayerKind::Player;
  Protection By = Protection::None;  // None: kicked by this run
};

struct TReportedKick {
  std::string Name;
  std::string Address;
  std::string Reason;
};

struct TSupervisionReport {
  int64_t AtUnixSeconds = 0;  // 0: no run yet
  bool Answered = false;      // the game server gave a list this run
  // The game server's health at the end of the run: whether it answered,
  // refused our password, rejected the challenge, banned us or stayed silent.
  RconHealth Health = RconHealth::Unknown;
  std::string Mark;           // the status mark after the run
  std::string List;           // "addon", "status" or "" (no list read yet)
  std::vector<TReportedPlayer> Players;
  std::vector<TReportedKick> Kicks;
};

// The last run's report, kept for readers on other threads.
class TLastSupervisionReport {
 public:
  // Replaces the report. Thread safe.
  void Publish(TSupervisionReport report);
  // A copy of the last report. Thread safe.
  TSupervisionReport Get() const;

 private:
  mutable TMutex lock_;  // guards report_
  TSupervisionReport report_ GUARDED_BY(lock_);
};
