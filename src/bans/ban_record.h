// Ban records: who was banned, why, when, by whom, with what evidence, and how
// the ban ended. The enforcement (zelk_bans.txt or the shared base's bans in
// force) decides who may play; the records are what an admin reads and
// searches. Plain data, shared by the local record base (SQLite) and the
// shared base (PostgreSQL).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Where a ban came from.
enum class BanOrigin {
  Report,       // a client's cheat report: By* name the reporting client
  Web,          // the web console: ByName is the admin, ByAddress their address
  CommandLine,  // a command-line tool: ByName is the system user
  Imported,     // found in zelk_bans.txt when the records began; details unknown
};

// "report", "web", "command line", "imported"; and back (false: unknown text).
const char* BanOriginName(BanOrigin origin);
bool ParseBanOrigin(const std::string& text, BanOrigin* origin);

// How a ban ended.
enum class BanEnd {
  InForce,  // not ended
  Lifted,   // EndedBy, EndedFrom, EndReason, EndedAt
  Expired,  // EndedAt
};

const char* BanEndName(BanEnd end);  // "in force", "lifted", "expired"
bool ParseBanEnd(const std::string& text, BanEnd* end);  // false: unknown text

struct TBanRecord {
  int64_t Id = 0;  // the base's number for the record; 0 before it is stored
  std::string Identifier;
  std::string Name;     // the player's name at the time
  std::string Address;  // the player's address at the time
  std::string Reason;   // up to 64 bytes
  int64_t MadeAt = 0;   // Unix seconds, UTC
  int64_t EndsAt = 0;   // Unix seconds, UTC; 0: never
  BanOrigin Origin = BanOrigin::Report;
  std::string ByName;        // see BanOrigin
  std::string ByIdentifier;  // the reporting client's identifier (Report)
  std::string ByAddress;     // the reporting client's or the admin's address
  std::string Server;        // "host:rconport" of the server that made it
  // Screenshots of the banned client taken shortly before the ban, as paths
  // relative to the screenshot root ("<address>/<file>.jpg"), newest first.
  std::vector<std::string> Evidence;
  BanEnd End = BanEnd::InForce;
  int64_t EndedAt = 0;
  std::string EndedBy;    // who lifted it (an admin, a system user)
  std::string EndedFrom;  // from where ("web 10.0.0.5", "command line")
  std::string EndReason;  // why
};

// How a ban was lifted, for its record.
struct TBanLift {
  std::string By;
  std::string From;
  std::string Reason;
};

// A search of the records. Text matches name, identifier, address or reason
// (a case-insensitive substring); empty matches all. Pages count from 1.
struct TBanQuery {
  std::string Text;
  enum class Which { All, InForce, Ended } Filter = Which::All;
  int Page = 1;
  int PerPage = 50;  // 1 to 500
  // Whether Text may match the address: the public list never lets a
  // search tell anything of a player's address.
  bool MatchAddress = true;
};

// One page of matches, newest first, and how many match in all.
struct TBanPage {
  std::vector<TBanRecord> Records;
  int64_t Total = 0;
};
