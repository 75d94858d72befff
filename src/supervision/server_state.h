// The state a server keeps for its whole run: its own copies of the settings
// and the timing, the tables, the remote console, the chat, the ban store in
// use, the supervision and the ban enforcement. One record for every builder:
// TServer holds one, and the tests, the benchmarks and the fuzz targets build
// their own the same way.
//
// Built in member order; each member keeps references to those before it, so
// the state is never copied or moved, and everything built on it must end
// before it does. Nothing here starts a thread or opens a socket.
#pragma once

#include "base/settings.h"
#include "base/timing.h"
#include "bans/ban_store.h"
#include "rcon/chat.h"
#include "rcon/rcon_client.h"
#include "registry/tables.h"
#include "supervision/ban_enforcement.h"
#include "supervision/supervise.h"

struct TServerState {
  explicit TServerState(const SettingsRecord& settings = SettingsRecord(),
                        const TimingRecord& timing = TimingRecord())
      : Settings(settings), Timing(timing) {}
  TServerState(const TServerState&) = delete;
  TServerState& operator=(const TServerState&) = delete;

  // Every member reads them through a const reference, at the moment it needs
  // a value; the program never changes them after start-up (a test or a
  // benchmark may, before the part it drives runs).
  SettingsRecord Settings;
  TimingRecord Timing;
  TTables Tables;
  TRconClient Rcon{Settings, Timing};
  TChat Chat{Rcon, Settings};
  // The file base until a builder puts another store in place.
  TBanStoreInUse Bans;
  TSupervision Supervision{Settings, Tables, Rcon};
  TBanEnforcement Enforcement{Settings, Rcon, Chat, Bans, Supervision};
};
