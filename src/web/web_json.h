// The JSON texts of the web console's API, built from copies of the program's
// state. Texts from clients and the game server are 8-bit; each string is
// written by JsonString (base/json_text.h), so the JSON is always valid UTF-8.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/json_text.h"
#include "bans/ban_record.h"
#include "bans/ban_store.h"
#include "rcon/rcon_client.h"
#include "supervision/supervision_report.h"
#include "platform/files.h"
#include "registry/tables.h"

struct TStatusFacts {
  RconHealth Health = RconHealth::Unknown;
  std::string GameServer;  // host:port
  int64_t NowUnixSeconds = 0;
  int64_t StartedUnixSeconds = 0;
  size_t Clients = 0;
  size_t Bans = 0;
  bool ScreensOn = false;
  bool RecordsUp = true;      // the ban records can be written and read
  std::string RecordsReason;  // why not, when not
};

std::string StatusJson(const TStatusFacts& facts, const TSupervisionReport& report);
// The players of the report; each player's client identifier (by name) and
// that identifier's number of ban records, when known.
std::string PlayersJson(const TSupervisionReport& report, const std::map<std::string, std::string>& identifiers = {},
                        const std::map<std::string, int64_t>& banCounts = {});
std::string ClientsJson(const std::vector<TClientView>& clients);
// What the ban base enforces now, by identifier: "p" for ever, or the minutes
// left. zelk_bans.txt counts its minutes down only while the server runs, so
// a record's planned end and the enforced one part when the server was down.
using TEnforcedBans = std::map<std::string, std::string>;
// The end a ban record shows: for a record in force whose identifier enforced
// holds, the end the ban base enforces now; else the planned one. Held is
// "true" or "false" for a record in force when enforced was read, else "null".
struct TShownEnd {
  bool Forever = false;
  int64_t EndsAt = 0;
  int64_t MinutesLeft = 0;  // rounded up, as the ban base counts; 0 for a record that ended
  std::string Held = "null";
};
TShownEnd ShownEnd(const TBanRecord& record, int64_t nowUnixSeconds, const TEnforcedBans* enforced);
// One ban record as a JSON object. It keeps the fields of the older list of
// bans (identifier, minutes_left, forever), so that its readers still find them.
// A record in force whose identifier enforced holds shows the enforced end
// (ends_at, forever, minutes_left) and the planned one apart (planned_ends_at);
// "enforced" says whether the ban base holds the identifier at all (null when
// not asked).
std::string BanRecordJson(const TBanRecord& record, int64_t nowUnixSeconds, const TEnforcedBans* enforced = nullptr);
// A page of a search: {"total", "page", "per_page", "bans": [...]}.
std::string BanPageJson(const TBanPage& page, const TBanQuery& query, int64_t nowUnixSeconds,
                        const TEnforcedBans* enforced = nullptr);
// One record with all the identifier's other records, newest first:
// {"ban": {...}, "history": [...]} (acserver-bans --json).
std::string BanDetailsJson(const TBanRecord& record, const std::vector<TBanRecord>& history, int64_t nowUnixSeconds);
// One record with a page of the identifier's other records, newest first:
// {"ban": {...}, "history": [...], "history_total", "history_page",
// "history_per_page"}.
std::string BanDetailsJson(const TBanRecord& record, const TBanPage& history, int page, int perPage,
                           int64_t nowUnixSeconds, const TEnforcedBans* enforced = nullptr);

struct TScreenFile {
  std::string Address;     // the directory: the sender's IPv4 address
  std::string File;        // the file name
  std::string Identifier;  // from the file name
  int64_t Bytes = 0;
  int64_t ModifiedUnixSeconds = 0;
};
std::string ScreensJson(const std::vector<TScreenFile>& screens);
std::string LogsJson(const std::vector<std::string>& full, const std::vector<std::string>& light);
