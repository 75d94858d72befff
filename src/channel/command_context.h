// What every client command handler works on: the tables (reached only under
// their BusyFlag), the settings and the ban enforcement. It names parts of a
// server's state and owns none of them; they outlive every handler's run.
#pragma once

#include "base/settings.h"
#include "registry/tables.h"
#include "supervision/ban_enforcement.h"
#include "supervision/server_state.h"

struct TCommandContext {
  TTables& Tables;
  const SettingsRecord& Settings;
  TBanEnforcement& Enforcement;
};

// The handlers' view of a server's state.
inline TCommandContext CommandContextOf(TServerState& state) {
  return {state.Tables, state.Settings, state.Enforcement};
}
