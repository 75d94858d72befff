// A reported ban carried out the way the "<ban>" command carries it out: the
// tables take it under BusyFlag, and the kick, the chat line and the record
// follow once the flag is free.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "registry/tables.h"
#include "supervision/server_state.h"

namespace testenv {

// True when the tables took the ban (a client of that name whose player is listed).
inline bool CarryOutBan(TServerState& state, const std::string& name, const std::string& address,
                        const std::string& reason, int32_t minutes) {
  std::optional<TBanKick> kick;
  {
    TBusyGuard busy(state.Tables);
    kick = state.Enforcement.TakeBan(busy, name, address, reason, minutes);
  }
  if (kick) state.Enforcement.SendBanKick(*kick);
  return kick.has_value();
}

}  // namespace testenv
