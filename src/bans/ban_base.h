// The ban base zelk_bans.txt: one record per ban, "<minutes or p>" "<identifier>".
// Lookups, appends and the minute's maintenance are serialised by one lock, and
// the maintenance replaces the file as one step, so no reader ever meets a
// half-written base and a crash leaves the old or the new base whole.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/mutex.h"

enum class BanLookup { NotBanned, Banned, Failed };

// The one rule for an identifier of the ban base, whoever bans (a client's
// report, the web console, the tools, an import): 1 to kIdentifierChars (64)
// bytes, no double quote, no control byte (below 0x20, and 0x7F). Such an
// identifier stays inside its record's quotes and on its record's line, so a
// ban can neither name another identifier nor add lines to the file. Any other
// byte (spaces, bytes from 0x80 up) is kept as it is. Empty when the
// identifier keeps the rule, else why not ("has a double quote", ...).
std::string BanIdentifierProblem(const std::string& identifier);
// The identifier a client announced, as the ban base and the tables hold it:
// double quotes turned into single ones and control bytes removed (as in
// every remote-console text, NeutraliseRconText), cut to kIdentifierChars
// bytes. Keeps the rule above unless it is empty (nothing printable was sent).
std::string ClientBanIdentifier(const std::string& announced);

std::string BanBasePath();
// The lock file that every process touching the base holds while it does.
std::string BanBaseLockPath();
// "banned permamently" for 0, else "banned for N minutes".
std::string DurationText(int32_t minutes);
// What is left of a ban whose duration field (or time left) is `duration`:
// "for ever" for "p", else "1 minute left" or "N minutes left".
std::string TimeLeftText(const std::string& duration);

// Removes what an interrupted rewrite of the base (or of the shared base's
// journal) left behind: temporary files "<name>.tmp.<pid>.<n>" beside them.
// Main thread, at start-up, before any other thread uses the base.
void RemoveBanBaseLeftovers();

// The record lines of the base (comments and empty lines left out), read under
// the locks. Empty when there is no base; false with the reason when it cannot
// be read. Thread safe.
bool ReadBanRecords(std::vector<std::string>& records, std::string* error);
// Every line of the base as it stands (comments and empty lines too, so that
// line n is lines[n - 1]), read under the locks; as ReadBanRecords otherwise.
bool ReadBanBaseLines(std::vector<std::string>& lines, std::string* error);

// Appends the records (minutes, 0 for ever; identifier) in one write, whole or
// not at all, under the locks, creating the base when missing. Nothing is
// written when an identifier breaks the rule. False with the reason.
bool AppendBanRecords(const std::vector<std::pair<int32_t, std::string>>& bans, std::string* error);

struct LiftResult {
  int Removed = 0;
  std::string Error;
};

// The base as one server uses it: the file, and the bans whose records could
// not be written to it yet. Those are enforced at connect like written ones,
// and every maintenance tries to write them.
class TBanFile {
 public:
  TBanFile() = default;
  TBanFile(const TBanFile&) = delete;
  TBanFile& operator=(const TBanFile&) = delete;

  // Whether a record bans the identifier, with the first such record's
  // duration field ("p" or the minutes left) in duration. Failed (with a
  // full-log line naming the file and the error) when the base exists but
  // cannot be read. Thread safe.
  BanLookup IsBanned(const std::string& identifier, std::string* duration = nullptr);
  // The same for many identifiers with one read of the file: the banned ones
  // with their duration field in banned.
  BanLookup AreBanned(const std::set<std::string>& identifiers, std::map<std::string, std::string>& banned);
  // Appends one record, creating the base with its two header lines when
  // missing. False (with a full-log line) when it cannot be written; the ban
  // is then kept in memory until it can be. An identifier against the rule
  // (BanIdentifierProblem) is refused with a full-log line and not kept.
  // Thread safe.
  bool AppendBanRecord(int32_t minutes, const std::string& identifier);
  // One pass of the minute's maintenance over the file: writes the bans kept
  // in memory, counts every timed ban down, drops the bans that ran out and
  // the lines it cannot read ("Unknown ban line format." each), and replaces
  // the file as one step. A failure is a full-log line; the caller goes on.
  // Thread safe.
  void Maintain();
  // Removes every ban of the identifier, as one step under the locks, so that
  // the server's maintenance neither overwrites the change nor is overwritten
  // by it. Removed is 0 when the identifier had no ban; Error is set when the
  // base could not be read or replaced (nothing changed in the file then).
  LiftResult Lift(const std::string& identifier);

 private:
  struct TUnwrittenBan {
    std::string Identifier;
    bool Forever = false;
    std::chrono::steady_clock::time_point Ends;
  };
  // The unwritten ban of the identifier still in force, if any.
  std::optional<TUnwrittenBan> FindUnwritten(const std::string& identifier);
  // Writes the bans that could not be written before; those that ran out
  // meanwhile are dropped. Main thread (the maintenance).
  void WriteUnwritten();

  TMutex unwrittenLock_;  // guards unwritten_
  std::vector<TUnwrittenBan> unwritten_ GUARDED_BY(unwrittenLock_);
};

// One minute's count-down of the base's lines, without touching the file:
// comments and "p" records stay whole, a record of N > 1 minutes becomes a
// fresh record of N - 1, a record of 1 or less goes, and any other line goes
// too and is counted in Unknown (an empty line goes without being counted).
struct TBanCountDown {
  std::vector<std::string> Kept;
  int Unknown = 0;
};
TBanCountDown CountDownBanLines(const std::vector<std::string>& lines);
