// The ban base file and its maintenance.
//
// Every access of this process to the file goes through banBaseLock, so a
// lookup or an append on a command thread never meets the maintenance's
// rewrite on the main thread. Every access also holds the lock file
// zelk_bans.txt.lock, which the admin's tool acserver-unban takes too, so a ban
// lifted while the server runs is never overwritten by the minute's rewrite. The
// maintenance writes the new content to a temporary file, flushes it and
// renames it over the base, so even a crash mid-way leaves a whole base. Anything that goes wrong is a full-log line
// naming the file and the reason; it never stops the caller's loop.
#include "bans/ban_base.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <optional>

#include "base/limits.h"
#include "platform/mutex.h"
#include "base/numbers.h"
#include "rcon/text_fields.h"
#include "log/logs.h"
#include "platform/console.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/program_dir.h"

namespace {

// A lock that can be waited for within a bound, built on a condition
// variable (std::timed_mutex's timed wait is not seen by the thread
// sanitizer). Guards the file zelk_bans.txt: lookups, appends, the
// maintenance's rewrite and the lift.
class TBanBaseLock {
 public:
  bool TryLockFor(std::chrono::milliseconds wait) {
    TMutexLock lock(mutex_);
    if (!free_.wait_for(lock.Native(), wait, [this]() REQUIRES(mutex_) { return !held_; })) return false;
    held_ = true;
    return true;
  }
  void Unlock() {
    {
      TMutexLock lock(mutex_);
      held_ = false;
    }
    free_.notify_one();
  }

 private:
  TMutex mutex_;  // guards held_
  std::condition_variable free_;
  bool held_ GUARDED_BY(mutex_) = false;
};
TBanBaseLock banBaseLock;

constexpr const char* kLineEnd = "\r\n";

// Holds banBaseLock and, where it can be had, the lock file shared with other
// processes, each waited for at most kBanBaseLockWaitMs and not past a stop
// request: a base that another program keeps locked fails the one operation
// (as an unreadable base does) and never holds up a client or the stop. A lock
// file that cannot be made at all (a read-only directory) does not stop a
// lookup: the process lock still keeps this server's own accesses apart.
class TBanBaseGuard {
 public:
  TBanBaseGuard() {
    const auto start = std::chrono::steady_clock::now();
    if (!banBaseLock.TryLockFor(std::chrono::milliseconds(kBanBaseLockWaitMs))) {
      error_ = "the ban base is busy in this server for more than " + std::to_string(kBanBaseLockWaitMs) + " ms";
      return;
    }
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    bool busy = false;
    std::string error;
    fileLock_ = platform::TFileLock::AcquireWithin(
        BanBaseLockPath(), std::max<int>(1, kBanBaseLockWaitMs - static_cast<int>(waited)), &busy, &error);
    if (!fileLock_ && busy) {
      error_ = error;
      banBaseLock.Unlock();
      return;
    }
    held_ = true;
    if (!fileLock_) platform::ErrorLine("ban base lock: " + error);
  }
  ~TBanBaseGuard() {
    fileLock_.reset();
    if (held_) banBaseLock.Unlock();
  }
  TBanBaseGuard(const TBanBaseGuard&) = delete;
  TBanBaseGuard& operator=(const TBanBaseGuard&) = delete;
  // False when the base could not be had in time; Error() says why.
  bool Held() const { return held_; }
  const std::string& Error() const { return error_; }

 private:
  bool held_ = false;
  std::optional<platform::TFileLock> fileLock_;
  std::string error_;
};

// The two comment lines that open a new base; the second is the same warning in
// Russian, in the Windows-1251 code page.
const std::string kHeaderEnglish =
    ";ATTENTION! Do not change this file. Changes can damage the ban base!  Tormud 2006";
const std::string kHeaderRussian =
    ";\xC2\xCD\xC8\xCC\xC0\xCD\xC8\xC5! \xCD\xE5 \xE8\xE7\xEC\xE5\xED\xFF\xE9\xF2\xE5 "
    "\xE4\xE0\xED\xED\xFB\xE9 \xF4\xE0\xE9\xEB. \xC8\xE7\xEC\xE5\xED\xE5\xED\xE8\xFF "
    "\xEC\xEE\xE3\xF3\xF2 \xEF\xEE\xE2\xF0\xE5\xE4\xE8\xF2\xFC \xE1\xE0\xE7\xF3 "
    "\xE1\xE0\xED\xEE\xE2!  Tormud 2006";

// True when something stands at the path, even something that cannot be read
// as the base (a directory, say): that is a fault to report, not an empty base.
bool BaseExists(const std::string& path) { return platform::FileExists(path) || platform::DirectoryExists(path); }

std::string RecordLine(const std::string& duration, const std::string& identifier) {
  return "\"" + duration + "\" \"" + identifier + "\"";
}

int64_t MinutesUntil(std::chrono::steady_clock::time_point end) {
  const auto left = std::chrono::duration_cast<std::chrono::seconds>(end - std::chrono::steady_clock::now()).count();
  return std::max<int64_t>(1, (left + 59) / 60);
}

// Writes records (each ending in its line end), whole or not at all; the base
// with its two header lines when it is missing. False with the reason.
bool WriteRecords(const std::string& records, std::string* error) {
  TBanBaseGuard guard;
  if (!guard.Held()) {
    *error = guard.Error();
    return false;
  }
  const std::string path = BanBasePath();
  if (!BaseExists(path)) {
    return platform::ReplaceFileAtomically(path, kHeaderEnglish + kLineEnd + kHeaderRussian + kLineEnd + records, error);
  }
  bool terminated = false;
  const bool written = platform::AppendLineWhole(path, records, kLineEnd, &terminated, error);
  if (terminated) WriteLog("The ban base " + path + " ended in a line without its line end; it was ended first");
  return written;
}

std::string RecordOf(int32_t minutes, const std::string& identifier) {
  return RecordLine(minutes == 0 ? "p" : std::to_string(minutes), identifier) + kLineEnd;
}

bool WriteRecord(int32_t minutes, const std::string& identifier, std::string* error) {
  return WriteRecords(RecordOf(minutes, identifier), error);
}

}  // namespace

std::string BanBasePath() { return platform::DataDirectory() + "zelk_bans.txt"; }

std::string BanIdentifierProblem(const std::string& identifier) {
  if (identifier.empty()) return "is empty";
  if (identifier.size() > kIdentifierChars) return "is longer than " + std::to_string(kIdentifierChars) + " bytes";
  for (const char c : identifier) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"') return "has a double quote";
    if (byte < 0x20 || byte == 0x7F) return "has a control byte (a line break, a tab or the like)";
  }
  return "";
}

std::string ClientBanIdentifier(const std::string& announced) {
  return NeutraliseRconText(announced).substr(0, kIdentifierChars);
}

bool AppendBanRecords(const std::vector<std::pair<int32_t, std::string>>& bans, std::string* error) {
  std::string records;
  for (const auto& [minutes, identifier] : bans) {
    if (const std::string problem = BanIdentifierProblem(identifier); !problem.empty()) {
      *error = "the identifier \"" + platform::WithoutControlBytes(identifier) + "\" " + problem;
      return false;
    }
    records += RecordOf(minutes, identifier);
  }
  return records.empty() || WriteRecords(records, error);
}

std::string BanBaseLockPath() { return BanBasePath() + ".lock"; }

std::string DurationText(int32_t minutes) {
  if (minutes == 0) return "banned permamently";
  return "banned for " + MinutesText(minutes);
}

std::optional<TBanFile::TUnwrittenBan> TBanFile::FindUnwritten(const std::string& identifier) {
  const auto now = std::chrono::steady_clock::now();
  TMutexLock guard(unwrittenLock_);
  for (const TUnwrittenBan& ban : unwritten_) {
    if (ban.Identifier == identifier && (ban.Forever || ban.Ends > now)) return ban;
  }
  return std::nullopt;
}

BanLookup TBanFile::IsBanned(const std::string& identifier, std::string* duration) {
  std::map<std::string, std::string> banned;
  const BanLookup lookup = AreBanned({identifier}, banned);
  if (lookup != BanLookup::Banned) return lookup;
  if (duration) *duration = banned.begin()->second;
  return lookup;
}

BanLookup TBanFile::AreBanned(const std::set<std::string>& identifiers, std::map<std::string, std::string>& banned) {
  banned.clear();
  std::set<std::string> wanted;
  for (const std::string& identifier : identifiers) {
    if (const std::optional<TUnwrittenBan> ban = FindUnwritten(identifier)) {
      banned[identifier] = ban->Forever ? "p" : std::to_string(MinutesUntil(ban->Ends));
    } else {
      wanted.insert(identifier);
    }
  }
  const auto found = [&] { return banned.empty() ? BanLookup::NotBanned : BanLookup::Banned; };
  if (wanted.empty()) return found();
  TBanBaseGuard guard;
  const std::string path = BanBasePath();
  if (!guard.Held()) {
    WriteLog("ERROR: cannot read the ban base " + path + ": " + guard.Error());
    return BanLookup::Failed;
  }
  if (!BaseExists(path)) return found();
  std::vector<std::string> lines;
  std::string error;
  if (!platform::ReadTextLines(path, lines, &error)) {
    WriteLog("ERROR: cannot read the ban base " + path + ": " + error);
    return BanLookup::Failed;
  }
  for (const std::string& line : lines) {
    if (line.empty() || line[0] == ';') continue;
    const std::string identifier = ExtractQuoted(line, 2);
    // The first record of an identifier gives its duration.
    if (wanted.contains(identifier)) banned.emplace(identifier, ExtractQuoted(line, 1));
  }
  return found();
}

bool TBanFile::AppendBanRecord(int32_t minutes, const std::string& identifier) {
  if (const std::string problem = BanIdentifierProblem(identifier); !problem.empty()) {
    WriteLog("ERROR: the ban of ID " + LogField(identifier) + " is not written to the ban base: the identifier " +
             problem);
    return false;
  }
  std::string error;
  if (WriteRecord(minutes, identifier, &error)) return true;
  WriteLog("ERROR: cannot write the ban base " + BanBasePath() + ": " + error);
  // The ban stands all the same: enforced from memory, written when it can be.
  {
    TMutexLock guard(unwrittenLock_);
    unwritten_.push_back({identifier, minutes == 0, std::chrono::steady_clock::now() + std::chrono::minutes(minutes)});
  }
  platform::ConsoleLine("ATTENTION!!! : the ban of ID " + identifier + " could not be written to " + BanBasePath() +
                        " (" + error + "); it is enforced from memory and written at the next maintenance");
  return false;
}

TBanCountDown CountDownBanLines(const std::vector<std::string>& lines) {
  TBanCountDown result;
  for (const std::string& line : lines) {
    if (line.empty()) continue;
    const std::string duration = ExtractQuoted(line, 1);
    if (line[0] == ';' || duration == "p") {
      result.Kept.push_back(line);
    } else if (const std::optional<int32_t> minutes = ParseInteger(duration)) {
      if (*minutes > 1) result.Kept.push_back(RecordLine(std::to_string(*minutes - 1), ExtractQuoted(line, 2)));
    } else {
      ++result.Unknown;
    }
  }
  return result;
}

void TBanFile::WriteUnwritten() {
  std::vector<TUnwrittenBan> waiting;
  {
    TMutexLock guard(unwrittenLock_);
    waiting = unwritten_;
  }
  for (const TUnwrittenBan& ban : waiting) {
    const bool over = !ban.Forever && ban.Ends <= std::chrono::steady_clock::now();
    std::string error;
    const bool written = over || WriteRecord(ban.Forever ? 0 : static_cast<int32_t>(MinutesUntil(ban.Ends)),
                                             ban.Identifier, &error);
    if (!written) continue;
    if (!over) WriteLog("The ban of ID " + ban.Identifier + " is written to the ban base now");
    TMutexLock guard(unwrittenLock_);
    std::erase_if(unwritten_, [&](const TUnwrittenBan& kept) {
      return kept.Identifier == ban.Identifier && kept.Ends == ban.Ends && kept.Forever == ban.Forever;
    });
  }
}

void TBanFile::Maintain() {
  WriteUnwritten();
  TBanBaseGuard guard;
  const std::string path = BanBasePath();
  if (!guard.Held()) {
    WriteLog("ERROR: cannot read the ban base " + path + ": " + guard.Error());
    return;
  }
  if (!BaseExists(path)) return;
  std::string before;
  std::string error;
  if (!platform::ReadWholeFile(path, before, &error)) {
    WriteLog("ERROR: cannot read the ban base " + path + ": " + error);
    return;
  }
  const TBanCountDown countDown = CountDownBanLines(platform::SplitTextLines(before));
  for (int i = 0; i < countDown.Unknown; ++i) WriteLog("Unknown ban line format.");
  std::string after;
  for (const std::string& line : countDown.Kept) after += line + kLineEnd;
  // A base of comments and permanent bans only stays as it is, unwritten.
  if (after == before) return;
  if (!platform::ReplaceFileAtomically(path, after, &error)) {
    WriteLog("ERROR: cannot write the ban base " + path + ": " + error);
  }
}

bool ReadBanBaseLines(std::vector<std::string>& lines, std::string* error) {
  TBanBaseGuard guard;
  lines.clear();
  if (!guard.Held()) {
    if (error) *error = guard.Error();
    return false;
  }
  const std::string path = BanBasePath();
  return !BaseExists(path) || platform::ReadTextLines(path, lines, error);
}

bool ReadBanRecords(std::vector<std::string>& records, std::string* error) {
  std::vector<std::string> lines;
  records.clear();
  if (!ReadBanBaseLines(lines, error)) return false;
  for (const std::string& line : lines) {
    if (!line.empty() && line[0] != ';') records.push_back(line);
  }
  return true;
}

LiftResult TBanFile::Lift(const std::string& identifier) {
  LiftResult result;
  {
    TMutexLock guard(unwrittenLock_);
    const size_t before = unwritten_.size();
    std::erase_if(unwritten_, [&](const TUnwrittenBan& ban) { return ban.Identifier == identifier; });
    result.Removed = static_cast<int>(before - unwritten_.size());
  }
  TBanBaseGuard guard;
  if (!guard.Held()) {
    result.Error = guard.Error();
    return result;
  }
  const std::string path = BanBasePath();
  if (!BaseExists(path)) return result;
  std::vector<std::string> lines;
  if (!platform::ReadTextLines(path, lines, &result.Error)) return result;
  std::string after;
  int fromFile = 0;
  for (const std::string& line : lines) {
    const bool record = !line.empty() && line[0] != ';';
    if (record && ExtractQuoted(line, 2) == identifier) {
      ++fromFile;
    } else if (!line.empty()) {
      after += line + kLineEnd;
    }
  }
  if (fromFile > 0 && !platform::ReplaceFileAtomically(path, after, &result.Error)) fromFile = 0;
  result.Removed += fromFile;
  return result;
}

void RemoveBanBaseLeftovers() {
  TBanBaseGuard guard;
  if (!guard.Held()) return;
  std::vector<platform::DirectoryEntry> entries;
  if (!platform::ListDirectory(platform::DataDirectory(), entries)) return;
  for (const platform::DirectoryEntry& entry : entries) {
    const bool leftover = !entry.IsDirectory && (entry.Name.rfind("zelk_bans.txt.tmp.", 0) == 0 ||
                                                 entry.Name.rfind(std::string(kBanJournalFile) + ".tmp.", 0) == 0);
    std::string error;
    if (leftover && platform::RemoveFile(platform::DataDirectory() + entry.Name, &error)) {
      WriteLog("Removed " + entry.Name + ", left by an interrupted rewrite of the ban base");
    }
  }
}

std::string TimeLeftText(const std::string& duration) {
  if (duration == "p") return "for ever";
  const std::optional<int32_t> minutes = ParseInteger(duration);
  return (minutes ? MinutesText(*minutes) : duration + " minutes") + " left";
}
