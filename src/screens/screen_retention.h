// Bounds the disk the screenshots take: at months of running, 30 players and
// one screenshot every few minutes make several gigabytes a month.
#pragma once

#include <cstdint>
#include <set>
#include <string>

struct TScreenRetention {
  int KeepDays = 14;          // screenshots older than this go; 0: no age bound
  int64_t MaxBytes = 0;       // beyond this in all, the oldest go; 0: no size bound
};

struct TScreenPrune {
  int Removed = 0;
  int64_t FreedBytes = 0;
  int KeptAsEvidence = 0;  // old or over the bound, but evidence of a ban record
  int Failed = 0;          // could not be removed (the first reason in Error)
  std::string Error;
};

// One removal pass over root ("<root><address>/<file>.jpg"): every screenshot
// older than KeepDays goes, then the oldest until the rest take at most
// MaxBytes. A file named in evidence (as "<address>/<file>", relative to root)
// is never removed, whatever its age: it is kept as long as its ban record.
// Files being written (temporary names) and anything not a screenshot are left
// alone. Thread safe (works on the files alone).
TScreenPrune PruneScreens(const std::string& root, const TScreenRetention& bounds,
                          const std::set<std::string>& evidence, int64_t nowUnixSeconds);

// The pass's line for the console and the full log; empty when it removed
// nothing and nothing failed.
std::string ScreenPruneLine(const TScreenPrune& pass, const TScreenRetention& bounds);
