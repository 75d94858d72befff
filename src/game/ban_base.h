// The ban base zelk_bans.txt: one record per ban, "<minutes or p>" "<identifier>".
// Lookups, appends and the minute's maintenance are serialised by one lock, and
// the maintenance replaces the file as one step, so no reader ever meets a
// half-written base and a crash leaves the old or the new base whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class BanLookup { NotBanned, Banned, Failed };

std::string BanBasePath();
// The lock file that every process touching the base holds while it does.
std::string BanBaseLockPath();
// Whether a record bans the identifier, with the first such record's duration
// field ("p" or the minutes left) in duration. Failed (with a full-log line
// naming the file and the error) when the base exists but cannot be read.
// Thread safe.
BanLookup IsBanned(const std::string& identifier, std::string* duration = nullptr);
// "banned permamently" for 0, else "banned for N minutes".
std::string DurationText(int32_t minutes);
// Appends one record, creating the base with its two header lines when missing.
// False (with a full-log line) when it cannot be written. Thread safe.
bool AppendBanRecord(int32_t minutes, const std::string& identifier);

// Removes what an interrupted rewrite of the base (or of the shared base's
// journal) left behind: temporary files "<name>.tmp.<pid>.<n>" beside them.
// Main thread, at start-up, before any other thread uses the base.
void RemoveBanBaseLeftovers();

// One pass of the minute's maintenance over the file: counts every timed ban
// down, drops the bans that ran out and the lines it cannot read ("Unknown ban
// line format." each), and replaces the file as one step. A failure is a
// full-log line; the caller goes on. Thread safe.
void MaintainBanFile();

// The record lines of the base (comments and empty lines left out), read under
// the locks. Empty when there is no base; false with the reason when it cannot
// be read. Thread safe.
bool ReadBanRecords(std::vector<std::string>& records, std::string* error);

// Removes every record of the identifier, as one step under the locks, so
// that the server's maintenance neither overwrites the change nor is
// overwritten by it. Removed is 0 when the identifier had no record; Error is
// set when the base could not be read or replaced (nothing changed then).
struct LiftResult {
  int Removed = 0;
  std::string Error;
};
LiftResult LiftBan(const std::string& identifier);

// One minute's count-down of the base's lines, without touching the file:
// comments and "p" records stay whole, a record of N > 1 minutes becomes a
// fresh record of N - 1, a record of 1 or less goes, and any other line goes
// too and is counted in Unknown (an empty line goes without being counted).
struct TBanCountDown {
  std::vector<std::string> Kept;
  int Unknown = 0;
};
TBanCountDown CountDownBanLines(const std::vector<std::string>& lines);
