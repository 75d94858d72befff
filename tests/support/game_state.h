// The state the server object owns, built on its own for the tests of the
// rooms below app/: settings, timing, tables, the remote console, the chat,
// the ban store in use, the supervision and the ban enforcement.
#pragma once

#include "base/settings.h"
#include "base/timing.h"
#include "supervision/ban_enforcement.h"
#include "bans/ban_store.h"
#include "rcon/chat.h"
#include "rcon/rcon_client.h"
#include "supervision/supervise.h"
#include "registry/tables.h"
#include "support/test_env.h"

namespace testenv {

struct TGameState {
  SettingsRecord Settings = TestSettings();
  TimingRecord Timing = TestTiming();
  TTables Tables;
  TRconClient Rcon{Settings, Timing};
  TChat Chat{Rcon, Settings};
  TBanStoreInUse Bans;
  TSupervision Supervision{Settings, Tables, Rcon};
  TBanEnforcement Enforcement{Settings, Rcon, Chat, Bans, Supervision};
};

}  // namespace testenv
