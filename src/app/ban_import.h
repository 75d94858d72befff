// Bans from other lists into the file base and its records (acserver-bans
// import): the game server's own ban lists, banned.cfg ("banid <minutes>
// <identifier>", written by its writeid) and listip.cfg ("addip <minutes>
// <address>", written by writeip), and a CSV file of bans (identifier, name,
// reason, made, minutes). Each ban becomes a line of zelk_bans.txt and a
// record of origin imported; all of them in one step.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "bans/ban_record.h"
#include "bans/records/record_base.h"

enum class BanListKind { EngineConfig, Csv };

// .cfg: the game server's lists; anything else: CSV.
BanListKind BanListKindOf(const std::string& path);

// What a list gives: the bans to add (with the minutes left for
// zelk_bans.txt, 0 for ever, in FileMinutes), and a line for each line left
// out ("line <n>: ..."), the bad ones and those of an identifier banned
// already (in banned, or earlier in the list) apart.
struct TBanImport {
  std::vector<TBanRecord> Bans;
  std::vector<int32_t> FileMinutes;
  std::vector<std::string> Bad;
  std::vector<std::string> Duplicates;
  std::vector<std::string> Notes;  // taken, but not whole (a reason or name cut)
};

// Reads a list's text. Every ban gets the fields of like (reason when the
// line has none, by name, server) with origin imported; now is the moment of
// the import, for bans without a time of their own.
//
// Engine lines: "banid" or "addip", the minutes (0 for ever; a decimal, as
// writeid writes "0.0"), then the identifier or the address (kept as the
// identifier and the record's address); empty lines and "//" comments are
// skipped. CSV: identifier, name, reason, made, minutes, with fields in double
// quotes when they hold a comma or a quote (a quote doubled inside); a first
// line starting with "identifier" is the header. made is Unix seconds or
// "YYYY-MM-DD HH:MM[:SS]" in UTC (a "T" or a closing "Z" allowed), empty when
// unknown; minutes (empty or 0 for ever) count from made (from now when made
// is unknown). A ban whose time is over is left out as a bad line.
TBanImport ReadBanList(const std::string& text, BanListKind kind, const std::set<std::string>& banned,
                       const TBanRecord& like, int64_t now);

// Adds the bans: their records and, within the same transaction, their lines
// of zelk_bans.txt in one append; all or nothing. False with the reason.
bool StoreImportedBans(records::TRecordBase& base, TBanImport& import, std::string* error);
