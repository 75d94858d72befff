// The program's counters, for the web console's /metrics: plain atomics that
// any thread bumps and the web console reads without a lock. They count since
// the start of the process and are never reset.
#pragma once

#include <atomic>
#include <cstdint>

struct MetricsRecord {
  std::atomic<uint64_t> KicksNoClient{0};       // supervision: no anti-cheat client
  std::atomic<uint64_t> KicksClientSilent{0};   // supervision: the client went silent
  std::atomic<uint64_t> KicksClientElsewhere{0};  // supervision: the name registered from another address
  std::atomic<uint64_t> KicksBanned{0};         // supervision: a banned player (refused at connect, or banned elsewhere)
  std::atomic<uint64_t> KicksNotDelivered{0};   // supervision kicks that the game server never took
  std::atomic<uint64_t> Bans{0};                // bans carried out, of every origin
  std::atomic<uint64_t> BansByReport{0};        // ...of them, on a client's cheat report
  std::atomic<uint64_t> BansByWeb{0};           // ...by hand on the web console (a tool's bans are made by its own process)
  std::atomic<uint64_t> BanRefusals{0};         // cheat reports refused (unknown name, other address)
  std::atomic<uint64_t> ConnectsRefusedBanned{0};
  std::atomic<uint64_t> RconExchanges{0};
  std::atomic<uint64_t> RconFailures{0};        // no challenge, reject, ban, socket error
  std::atomic<uint64_t> RconExchangeMicros{0};  // summed duration of the exchanges
  std::atomic<uint64_t> ScreensReceived{0};
  std::atomic<uint64_t> ScreenBytes{0};
  std::atomic<uint64_t> CommandConnections{0};  // accepted command-channel connections
  std::atomic<uint64_t> SupervisionRuns{0};
  // Notifications, each counted once per event and URL: delivered, given up
  // after their tries, or never tried (the queue was full, or the server stopped).
  std::atomic<uint64_t> NotificationsSent{0};
  std::atomic<uint64_t> NotificationsFailed{0};
  std::atomic<uint64_t> NotificationsDropped{0};
};

extern MetricsRecord Metrics;
