// The two logs under <data directory>/logs/: the full log zelk_logs.txt (errors
// and bans) and the short log zelk_light_logs.txt (client events). Every line is
// "date | time : message" ending in CR LF, and is echoed on the console.
//
// Each write opens the file, appends one line and closes it, so each line is in
// the file as soon as the write returns. One lock per file serialises writers.
// A line that cannot be written never fails the caller: the writer creates
// logs/ again when it is missing, and a line that still cannot be written is
// reported on standard error.
//
// No text reaches a log raw: control bytes (below 0x20, and 0x7F) are removed
// from every line, so a client's name can neither start a forged line nor
// carry an escape sequence. While the server runs, the full log is archived
// like at a start once it passes kMaxLogBytes, and so is the short log; of
// each log's archives, the newest kKeptLogArchives are kept.
#pragma once

#include <string>

// Archives the old full log under the smallest free number from 2 up
// (zelk_logs2.txt, ...), removes the archives beyond the newest
// kKeptLogArchives, starts an empty full log and empties the short log.
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
// The full log's path.
std::string FullLogPath();
// For a tool beside the running server (acserver-unban): the stamped message
// appended to the full log, control bytes removed, in one O_APPEND write, so it
// lands whole between the server's lines whatever the server writes meanwhile.
// Only an existing log is written: the server creates it at every start, and a
// tool run by another user must not create a file the server cannot append
// to. Not on the console. False with the reason in error. Thread safe.
bool AppendToFullLog(const std::string& message, std::string* error);
// A client's text as it may stand in a log line: control bytes removed, cut to
// kLogFieldChars bytes. Thread safe.
std::string LogField(const std::string& text);
// Whether one more error line caused by a request from address (an unknown
// name, a refused ban or connect) may be written: at most
// kLimitedLogLinesPerMinute in each window of kLogLimitWindow per address;
// the lines beyond are counted, and once the window has ended one full-log
// line says how many were left out. Thread safe.
bool AdmitErrorLine(const std::string& address);
// Writes that line for every window that has ended. Thread safe; the main
// loop calls it every pass, so the count comes within a tick of the window's end.
void FlushErrorLineLimit();
// Forgets every window, without a line (tests that run one after another).
void ResetErrorLineLimitForTesting();
// "date | time : " for the current moment (time read first, then the date).
std::string LogStamp();
std::string LogDirectory();
