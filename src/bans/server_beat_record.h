// One server of a community as the others see it: the heartbeat each server
// writes to a shared ban base after every supervision run, and what the web
// console lists of every server (on the file base, of this one alone).
#pragma once

#include <cstdint>
#include <string>

// A server whose last run is older than this is flagged silent: a run is due
// every 30 s, so three have been missed (its main loop is stuck, it stopped,
// or it cannot reach the base).
inline constexpr int64_t kServerSilentSeconds = 90;

struct TServerBeat {
  std::string Name;     // "host:rconport", as ServerName gives it
  std::string Version;  // the program's (kVersionText)
  std::string Health;   // the game server's at the end of the run (HealthName)
  int64_t Players = 0;    // every player but bots and spectator proxies
  int64_t Protected = 0;  // of them, those a client or the allow-list protects
  int64_t LastRun = 0;    // Unix seconds of the last run; 0: none yet
  int64_t SilentFor = 0;  // seconds since LastRun, by the clock of whoever read it
};

// Whether the server has missed its runs: it ran once, longer ago than
// kServerSilentSeconds.
inline bool IsSilent(const TServerBeat& beat) { return beat.LastRun != 0 && beat.SilentFor > kServerSilentSeconds; }
