// The state the server object owns, for the benchmarks that drive the rooms
// below app/ without it: settings, timing, tables, the remote console, the
// chat, the ban store in use, the supervision and the ban enforcement.
#pragma once

#include "base/settings.h"
#include "base/timing.h"
#include "channel/client_commands.h"
#include "supervision/ban_enforcement.h"
#include "bans/ban_store.h"
#include "rcon/chat.h"
#include "rcon/rcon_client.h"
#include "supervision/supervise.h"
#include "registry/tables.h"

struct TBenchState {
  SettingsRecord Settings;
  TimingRecord Timing;
  TTables Tables;
  TRconClient Rcon{Settings, Timing};
  TChat Chat{Rcon, Settings};
  TBanStoreInUse Bans;
  TSupervision Supervision{Settings, Tables, Rcon};
  TBanEnforcement Enforcement{Settings, Rcon, Chat, Bans, Supervision};

  CommandHandlerFn ConnectHandler() {
    return [this](CommandCall& call) { ConnectCmd(Tables, Settings, Enforcement, call); };
  }
  CommandHandlerFn DisconnectHandler() {
    return [this](CommandCall& call) { DisConnectCmd(Tables, call); };
  }
  CommandHandlerFn UpdateHandler() {
    return [this](CommandCall& call) { UpdateCmd(Tables, call); };
  }
};
