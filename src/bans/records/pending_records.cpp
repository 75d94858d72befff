#include "bans/records/pending_records.h"

#include "base/limits.h"
#include "base/numbers.h"
#include "base/tab_fields.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/program_dir.h"

namespace records {

namespace {

std::optional<platform::TFileLock> LockPending(std::string* error) {
  bool busy = false;
  std::optional<platform::TFileLock> lock =
      platform::TFileLock::AcquireWithin(PendingRecordsPath() + ".lock", kBanBaseLockWaitMs, &busy, error);
  if (!lock && busy) *error = PendingRecordsPath() + " is busy in another process: " + *error;
  return lock;
}

}  // namespace

std::string PendingRecordsPath() { return platform::DataDirectory() + "acserver.db.pending"; }

std::string PendingLine(const TRecordBase::TChange& change) {
  std::vector<std::string> fields;
  if (change.IsLift) {
    fields = {"lift", std::to_string(change.At), change.Identifier, change.Lift.By, change.Lift.From,
              change.Lift.Reason};
  } else {
    const TBanRecord& ban = change.Ban;
    fields = {"ban",         std::to_string(ban.MadeAt), std::to_string(ban.EndsAt), BanOriginName(ban.Origin),
              ban.Identifier, ban.Name,                  ban.Address,                ban.Reason,
              ban.ByName,     ban.ByIdentifier,          ban.ByAddress,              ban.Server};
  }
  std::string line;
  for (const std::string& field : fields) line += (line.empty() ? "" : "\t") + EscapeTabField(field);
  return line + "\r\n";
}

std::optional<TRecordBase::TChange> ChangeOfPendingLine(const std::string& line) {
  const std::vector<std::string> f = SplitTabFields(line);
  TRecordBase::TChange change;
  if (f[0] == "lift" && f.size() == 6) {
    const std::optional<int64_t> at = ParseInteger64(f[1]);
    if (!at) return std::nullopt;
    change.IsLift = true;
    change.At = *at;
    change.Identifier = f[2];
    change.Lift = {f[3], f[4], f[5]};
    return change;
  }
  if (f[0] != "ban" || f.size() != 12) return std::nullopt;
  const std::optional<int64_t> made = ParseInteger64(f[1]);
  const std::optional<int64_t> ends = ParseInteger64(f[2]);
  TBanRecord& ban = change.Ban;
  if (!made || !ends || !ParseBanOrigin(f[3], &ban.Origin)) return std::nullopt;
  ban.MadeAt = *made;
  ban.EndsAt = *ends;
  ban.Identifier = f[4];
  ban.Name = f[5];
  ban.Address = f[6];
  ban.Reason = f[7];
  ban.ByName = f[8];
  ban.ByIdentifier = f[9];
  ban.ByAddress = f[10];
  ban.Server = f[11];
  return change;
}

bool KeepPending(const TRecordBase::TChange& change, std::string* error) {
  std::optional<platform::TFileLock> lock = LockPending(error);
  if (!lock) return false;
  bool terminated = false;
  return platform::AppendLineWhole(PendingRecordsPath(), PendingLine(change), "\r\n", &terminated, error);
}

std::optional<int> WritePending(TRecordBase& base, std::string* error, std::vector<std::string>* badLines) {
  const std::string path = PendingRecordsPath();
  if (!platform::FileExists(path)) return 0;
  std::optional<platform::TFileLock> lock = LockPending(error);
  if (!lock) return std::nullopt;
  std::vector<std::string> lines;
  if (!platform::FileExists(path)) return 0;  // taken in by another process meanwhile
  if (!platform::ReadTextLines(path, lines, error)) return std::nullopt;
  std::vector<TRecordBase::TChange> changes;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    if (std::optional<TRecordBase::TChange> change = ChangeOfPendingLine(lines[i])) {
      changes.push_back(std::move(*change));
    } else if (badLines) {
      badLines->push_back(path + " line " + std::to_string(i + 1) + ": " + lines[i]);
    }
  }
  if (!changes.empty() && !base.ApplyChanges(changes, error)) return std::nullopt;
  // A crash right here would write the changes again: the file goes at once.
  if (!platform::RemoveFile(path, error)) return std::nullopt;
  return static_cast<int>(changes.size());
}

}  // namespace records
