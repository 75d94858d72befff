// The work of acserver-bans: the ban records from the command line, on the
// ban base the server uses (zelk_bans.txt with acserver.db, or the shared
// base). The arguments are read by its main.
#pragma once

#include <cstdint>
#include <string>

#include "bans/ban_record.h"

enum class BanToolAction { List, Show, History, Ban, Lift, Import, Help, Version };

struct TBanToolRequest {
  BanToolAction What = BanToolAction::List;
  std::string Argument;  // the record's id (show), the identifier (history, ban, lift) or the file (import)
  TBanQuery Query{"", TBanQuery::Which::InForce, 1, 50};
  bool Json = false;
  std::string Reason;
  std::string Name;
  int32_t Minutes = 0;  // 0: for ever
};

// "list", "show", "history", "ban", "lift", "import"; false for anything else.
bool ParseBanToolAction(const std::string& word, BanToolAction* action);

// Carries out the request and prints its answer; the exit status (0 done,
// 1 nothing found, 2 file or database error).
int RunBanTool(const TBanToolRequest& request);
