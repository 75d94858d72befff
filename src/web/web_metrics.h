// /metrics: the program's counters and a few facts of the moment in the
// Prometheus text format (one HELP and TYPE per family, label values escaped).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "rcon/rcon_client.h"

// What /metrics reads besides the counters, copied by the request's thread.
struct TMetricsFacts {
  size_t Clients = 0;
  size_t Players = 0;
  size_t Bans = 0;
  RconHealth Health = RconHealth::Unknown;
  int64_t LastRunUnixSeconds = 0;  // 0: no supervision run yet
  int64_t StartedUnixSeconds = 0;
  bool RecordsUp = true;
};

// The whole /metrics text. Thread safe (the counters are atomics).
std::string MetricsText(const TMetricsFacts& facts);
