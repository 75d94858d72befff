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
#include "game/ban_base.h"

#include <cstdint>
#include <mutex>
#include <optional>

#include "base/numbers.h"
#include "game/text_fields.h"
#include "log/logs.h"
#include "platform/console.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/program_dir.h"

namespace {

// Guards the file zelk_bans.txt: lookups, appends and the maintenance's rewrite.
std::mutex banBaseLock;

constexpr const char* kLineEnd = "\r\n";

// Holds banBaseLock and, where it can be had, the lock file shared with other
// processes. A lock file that cannot be made (a read-only directory) does not
// stop a lookup: the process lock still keeps this server's own accesses apart.
class TBanBaseGuard {
 public:
  TBanBaseGuard() : guard_(banBaseLock) {
    std::string error;
    fileLock_ = platform::TFileLock::Acquire(BanBaseLockPath(), &error);
    if (!fileLock_) platform::ErrorLine("ban base lock: " + error);
  }

 private:
  std::lock_guard<std::mutex> guard_;
  std::optional<platform::TFileLock> fileLock_;
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

}  // namespace

std::string BanBasePath() { return platform::DataDirectory() + "zelk_bans.txt"; }

std::string BanBaseLockPath() { return BanBasePath() + ".lock"; }

std::string DurationText(int32_t minutes) {
  if (minutes == 0) return "banned permamently";
  return "banned for " + std::to_string(minutes) + " minutes";
}

BanLookup IsBanned(const std::string& identifier, std::string* duration) {
  TBanBaseGuard guard;
  const std::string path = BanBasePath();
  if (!BaseExists(path)) return BanLookup::NotBanned;
  std::vector<std::string> lines;
  std::string error;
  if (!platform::ReadTextLines(path, lines, &error)) {
    WriteLog("ERROR: cannot read the ban base " + path + ": " + error);
    return BanLookup::Failed;
  }
  for (const std::string& line : lines) {
    if (line.empty() || line[0] == ';') continue;
    if (ExtractQuoted(line, 2) != identifier) continue;
    if (duration) *duration = ExtractQuoted(line, 1);
    return BanLookup::Banned;
  }
  return BanLookup::NotBanned;
}

bool AppendBanRecord(int32_t minutes, const std::string& identifier) {
  const std::string record = RecordLine(minutes == 0 ? "p" : std::to_string(minutes), identifier) + kLineEnd;
  TBanBaseGuard guard;
  const std::string path = BanBasePath();
  std::string error;
  const bool written =
      BaseExists(path)
          ? platform::AppendToFile(path, record, &error)
          : platform::ReplaceFileAtomically(path, kHeaderEnglish + kLineEnd + kHeaderRussian + kLineEnd + record,
                                            &error);
  if (!written) WriteLog("ERROR: cannot write the ban base " + path + ": " + error);
  return written;
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

void MaintainBanFile() {
  TBanBaseGuard guard;
  const std::string path = BanBasePath();
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

bool ReadBanRecords(std::vector<std::string>& records, std::string* error) {
  TBanBaseGuard guard;
  records.clear();
  const std::string path = BanBasePath();
  if (!BaseExists(path)) return true;
  std::vector<std::string> lines;
  if (!platform::ReadTextLines(path, lines, error)) return false;
  for (const std::string& line : lines) {
    if (!line.empty() && line[0] != ';') records.push_back(line);
  }
  return true;
}

LiftResult LiftBan(const std::string& identifier) {
  TBanBaseGuard guard;
  LiftResult result;
  const std::string path = BanBasePath();
  if (!BaseExists(path)) return result;
  std::vector<std::string> lines;
  if (!platform::ReadTextLines(path, lines, &result.Error)) return result;
  std::string after;
  for (const std::string& line : lines) {
    const bool record = !line.empty() && line[0] != ';';
    if (record && ExtractQuoted(line, 2) == identifier) {
      ++result.Removed;
    } else if (!line.empty()) {
      after += line + kLineEnd;
    }
  }
  if (result.Removed > 0 && !platform::ReplaceFileAtomically(path, after, &result.Error)) result.Removed = 0;
  return result;
}

