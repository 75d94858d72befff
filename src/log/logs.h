// The two logs under <data directory>/logs/: the full log zelk_logs.txt (errors
// and bans) and the short log zelk_light_logs.txt (client events). Every line is
// "date | time : message" ending in CR LF, and is echoed on the console.
//
// Each write opens the file, appends one line and closes it, so each line is in
// the file as soon as the write returns. One lock per file serialises writers.
// A line that cannot be written never fails the caller: the writer creates
// logs/ again when it is missing, and a line that still cannot be written is
// reported on standard error.
#pragma once

#include <string>

// Archives the old full log under the smallest free number from 2 up
// (zelk_logs2.txt, ...), starts an empty full log and empties the short log.
// Creates logs/ when missing. False, with the reason in error, when the new
// files cannot be created. Main thread, at start-up.
bool RotateLogs(std::string* error = nullptr);
// "Anticheat log write:" and the stamped line on the console, then the line in
// the full log. Thread safe.
void WriteLog(const std::string& message);
// The bare message on the console, then the stamped line in the short log.
// Thread safe.
void WriteLightLog(const std::string& message);
// Where an event goes besides the console.
enum class EventLogs { Full, FullAndShort };
// An event an admin looks for: the message on the console as it is, and
// stamped in the full log (and in the short log with FullAndShort). Thread safe.
void WriteEvent(const std::string& message, EventLogs logs = EventLogs::Full);
// "date | time : " for the current moment (time read first, then the date).
std::string LogStamp();
std::string LogDirectory();
