#include "log/logs.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <tuple>
#include <vector>

#include "base/limits.h"
#include "platform/mutex.h"
#include "log/log_limit.h"
#include "platform/clock_text.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/program_dir.h"

namespace {

// Each lock guards the appends to its file, so lines never interleave and a
// write never meets the file half-written by another thread; fullLogLock also
// guards the archiving of the full log while the server runs.
TMutex fullLogLock;
TMutex lightLogLock;

// Guards errorLineLimit.
TMutex errorLineLimitLock;
TLogLimit errorLineLimit GUARDED_BY(errorLineLimitLock)(kLimitedLogLinesPerMinute, kLogLimitWindow);

constexpr const char* kFullLog = "zelk_logs.txt";
constexpr const char* kLightLog = "zelk_light_logs.txt";

// A log's name without ".txt": its archives are "<stem><N>.txt".
std::string Stem(const std::string& log) { return log.substr(0, log.size() - 4); }

// The archive number of "<stem><N>.txt", N from 2; 0 for any other name.
long ArchiveNumber(const std::string& stem, const std::string& name) {
  const std::string& head = stem;
  const std::string tail = ".txt";
  if (name.size() <= head.size() + tail.size() || name.compare(0, head.size(), head) != 0 ||
      name.compare(name.size() - tail.size(), tail.size(), tail) != 0) {
    return 0;
  }
  const std::string digits = name.substr(head.size(), name.size() - head.size() - tail.size());
  if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
  const long number = std::stol(digits);
  return number >= 2 ? number : 0;
}

struct TArchive {
  int64_t Seconds = 0;
  int64_t Nanoseconds = 0;
  long Number = 0;
  std::string Name;
  // Newest first: by the time of the last write, then by number.
  bool operator>(const TArchive& other) const {
    return std::tie(Seconds, Nanoseconds, Number) > std::tie(other.Seconds, other.Nanoseconds, other.Number);
  }
};

// The archives of the log named by stem in dir, in no order; empty when dir
// cannot be listed.
std::vector<TArchive> ListArchives(const std::string& dir, const std::string& stem) {
  std::vector<platform::DirectoryEntry> entries;
  std::vector<TArchive> archives;
  if (!platform::ListDirectory(dir, entries)) return archives;
  for (const platform::DirectoryEntry& entry : entries) {
    if (entry.IsDirectory) continue;
    if (const long number = ArchiveNumber(stem, entry.Name); number != 0) {
      archives.push_back({entry.ModifiedUnixSeconds, entry.ModifiedNanoseconds, number, entry.Name});
    }
  }
  return archives;
}

// Makes the archive just taken the newest by the time of its last write, so
// that RemoveOldArchives never removes it in place of an older one. File
// times come from a coarse clock (a few milliseconds) that can also be set
// back, so a log created in the same tick as the previous archive, or before
// a clock change, can carry a time no later than an older archive's; it then
// gets one step of the file system's clock (1 ns; 100 ns on Windows) past
// the newest other one. Caller holds the log's lock.
void MakeNewestArchive([[maybe_unused]] TMutex& logLock, const std::string& dir, const std::string& log, const std::string& name)
    REQUIRES(logLock) {
  const std::vector<TArchive> archives = ListArchives(dir, Stem(log));
  const TArchive* self = nullptr;
  const TArchive* newestOther = nullptr;
  for (const TArchive& archive : archives) {
    if (archive.Name == name) {
      self = &archive;
    } else if (newestOther == nullptr || archive > *newestOther) {
      newestOther = &archive;
    }
  }
  if (self == nullptr || newestOther == nullptr) return;
  if (std::tie(self->Seconds, self->Nanoseconds) > std::tie(newestOther->Seconds, newestOther->Nanoseconds)) return;
  int64_t seconds = newestOther->Seconds;
  int64_t nanoseconds = newestOther->Nanoseconds + platform::FileTimeStepNanoseconds();
  if (nanoseconds >= 1000000000) {
    ++seconds;
    nanoseconds -= 1000000000;
  }
  std::string error;
  if (!platform::SetModifiedTime(dir + name, seconds, nanoseconds, &error)) platform::ErrorLine("log archive: " + error);
}

// Moves the log (kFullLog or kLightLog) to the smallest free archive number
// from 2 up, as the newest archive; the name taken, or empty (after a line on
// standard error) when the rename failed. Caller holds the log's lock.
std::string ArchiveLog(TMutex& logLock, const std::string& dir, const std::string& log) REQUIRES(logLock) {
  const std::string stem = Stem(log);
  int n = 2;
  while (platform::FileExists(dir + stem + std::to_string(n) + ".txt")) ++n;
  const std::string name = stem + std::to_string(n) + ".txt";
  std::string error;
  if (!platform::RenameFile(dir + log, dir + name, &error)) {
    platform::ErrorLine("log rotation: " + error);
    return std::string();
  }
  MakeNewestArchive(logLock, dir, log, name);
  return name;
}

// Removes the archives beyond the newest kKeptLogArchives (by the time of
// their last write; numbers are reused, so they say nothing about age), and
// says on the console how many went. Caller holds the log's lock.
void RemoveOldArchives([[maybe_unused]] TMutex& logLock, const std::string& dir, const std::string& log) REQUIRES(logLock) {
  std::vector<TArchive> archives = ListArchives(dir, Stem(log));
  if (archives.size() <= static_cast<size_t>(kKeptLogArchives)) return;
  std::sort(archives.begin(), archives.end(), std::greater<>());
  int removed = 0;
  for (size_t i = kKeptLogArchives; i < archives.size(); ++i) {
    std::string error;
    if (platform::RemoveFile(dir + archives[i].Name, &error)) {
      ++removed;
    } else {
      platform::ErrorLine("log archive: " + error);
    }
  }
  if (removed > 0) {
    const std::string kind = log == kFullLog ? "full-log" : "short-log";
    platform::ConsoleLine("Removed " + std::to_string(removed) + " old " + kind + " archives (the newest " +
                          std::to_string(kKeptLogArchives) + " are kept)");
  }
}

// Appends one line; a missing logs/ is made again, once. Caller holds the
// file's lock.
void AppendLocked(const std::string& dir, const std::string& file, const std::string& line) {
  std::string error;
  if (platform::AppendToFile(dir + file, line + "\r\n", &error)) return;
  // logs/ may have been removed while the server runs: make it again, once.
  std::string retryError;
  if (!platform::DirectoryExists(dir) && platform::MakeDirectory(dir, &retryError) &&
      platform::AppendToFile(dir + file, line + "\r\n", &retryError)) {
    return;
  }
  platform::ErrorLine("log write failed (" + error + "): " + line);
}

// Appends the line to the log (kFullLog or kLightLog). Past its size limit
// the log is archived, so that no flood of lines can fill the disk over
// months of running; the new log opens with where the old one went. Caller
// holds the log's lock.
void AppendAndArchive(TMutex& logLock, const std::string& log, const std::string& line) REQUIRES(logLock) {
  const std::string dir = LogDirectory();
  AppendLocked(dir, log, platform::WithoutControlBytes(line));
  const std::optional<long long> size = platform::FileSize(dir + log);
  if (!size || *size <= kMaxLogBytes) return;
  const std::string archive = ArchiveLog(logLock, dir, log);
  if (archive.empty()) return;
  const std::string note = LogStamp() + "The " + (log == kFullLog ? "full" : "short") + " log passed " +
                           std::to_string(kMaxLogBytes / 1048576) + " MiB and was archived as logs/" + archive;
  platform::ConsoleLines({"Anticheat log write:", note});
  AppendLocked(dir, log, note);
  RemoveOldArchives(logLock, dir, log);
}

void AppendLightLine(const std::string& line) {
  TMutexLock guard(lightLogLock);
  AppendAndArchive(lightLogLock, kLightLog, line);
}

void AppendFullLine(const std::string& line) {
  TMutexLock guard(fullLogLock);
  AppendAndArchive(fullLogLock, kFullLog, line);
}

// Writes the line for each address whose window ended with lines left out.
void ReportLeftOut(const std::vector<TLogLimit::TLeftOut>& leftOut) {
  for (const TLogLimit::TLeftOut& entry : leftOut) {
    WriteLog("Left out " + std::to_string(entry.Lines) + " more error lines caused by " + entry.Address +
             " (over " + std::to_string(kLimitedLogLinesPerMinute) + " a minute)");
  }
}

}  // namespace

std::string LogDirectory() { return platform::DataDirectory() + "logs/"; }

std::string FullLogPath() { return LogDirectory() + kFullLog; }

bool AppendToFullLog(const std::string& message, std::string* error) {
  return platform::AppendToExistingFile(FullLogPath(), platform::WithoutControlBytes(LogStamp() + message) + "\r\n",
                                        error);
}

std::string LogStamp() {
  std::string time = platform::CurrentTimeText();
  std::string date = platform::CurrentDateText();
  return date + " | " + time + " : ";
}

bool RotateLogs(std::string* error) {
  const std::string dir = LogDirectory();
  if (!platform::DirectoryExists(dir)) platform::MakeDirectory(dir);
  TMutexLock fullGuard(fullLogLock);
  TMutexLock lightGuard(lightLogLock);
  if (platform::FileExists(dir + kFullLog)) ArchiveLog(fullLogLock, dir, kFullLog);
  RemoveOldArchives(fullLogLock, dir, kFullLog);
  return platform::CreateEmptyFile(dir + kFullLog, error) && platform::CreateEmptyFile(dir + kLightLog, error);
}

void WriteLog(const std::string& message) {
  const std::string line = LogStamp() + message;
  platform::ConsoleLines({"Anticheat log write:", line});
  AppendFullLine(line);
}

void WriteLightLog(const std::string& message) {
  platform::ConsoleLine(message);
  AppendLightLine(LogStamp() + message);
}

void WriteEvent(const std::string& message, EventLogs logs) {
  platform::ConsoleLine(message);
  const std::string line = LogStamp() + message;
  AppendFullLine(line);
  if (logs == EventLogs::FullAndShort) AppendLightLine(line);
}

std::string LogField(const std::string& text) { return platform::WithoutControlBytes(text).substr(0, kLogFieldChars); }

bool AdmitErrorLine(const std::string& address) {
  bool admitted;
  std::vector<TLogLimit::TLeftOut> leftOut;
  {
    TMutexLock guard(errorLineLimitLock);
    const auto now = std::chrono::steady_clock::now();
    leftOut = errorLineLimit.TakeEnded(now);
    admitted = errorLineLimit.Admit(address, now);
  }
  ReportLeftOut(leftOut);
  return admitted;
}

void FlushErrorLineLimit() {
  std::vector<TLogLimit::TLeftOut> leftOut;
  {
    TMutexLock guard(errorLineLimitLock);
    leftOut = errorLineLimit.TakeEnded(std::chrono::steady_clock::now());
  }
  ReportLeftOut(leftOut);
}

void ResetErrorLineLimitForTesting() {
  TMutexLock guard(errorLineLimitLock);
  errorLineLimit = TLogLimit(kLimitedLogLinesPerMinute, kLogLimitWindow);
}
