#include "bans/records/record_base.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "base/numbers.h"
#include "rcon/text_fields.h"
#include "platform/files.h"

namespace records {

namespace {

constexpr int kMaxPerPage = 500;

// The tables of schema version 1.
constexpr const char* kSchema = R"sql(
CREATE TABLE schema_version(version INTEGER NOT NULL);
CREATE TABLE bans(
  id INTEGER PRIMARY KEY,
  identifier TEXT NOT NULL,
  name TEXT NOT NULL,
  address TEXT NOT NULL,
  reason TEXT NOT NULL,
  made_at INTEGER NOT NULL,
  ends_at INTEGER NOT NULL,
  origin TEXT NOT NULL,
  by_name TEXT NOT NULL,
  by_identifier TEXT NOT NULL,
  by_address TEXT NOT NULL,
  server TEXT NOT NULL,
  end_kind TEXT NOT NULL,
  ended_at INTEGER NOT NULL,
  ended_by TEXT NOT NULL,
  ended_from TEXT NOT NULL,
  end_reason TEXT NOT NULL);
CREATE INDEX bans_newest ON bans(made_at DESC, id DESC);
CREATE INDEX bans_end_newest ON bans(end_kind, made_at DESC, id DESC);
CREATE INDEX bans_identifier ON bans(identifier, end_kind);
CREATE INDEX bans_identifier_newest ON bans(identifier, made_at DESC, id DESC);
CREATE TABLE evidence(
  ban_id INTEGER NOT NULL REFERENCES bans(id),
  position INTEGER NOT NULL,
  path TEXT NOT NULL,
  PRIMARY KEY(ban_id, position)) WITHOUT ROWID;
CREATE INDEX evidence_path ON evidence(path);
)sql";

constexpr const char* kColumns =
    "id, identifier, name, address, reason, made_at, ends_at, origin, by_name, by_identifier, by_address, server, "
    "end_kind, ended_at, ended_by, ended_from, end_reason";

constexpr const char* kInsertSql =
    "INSERT INTO bans(identifier, name, address, reason, made_at, ends_at, origin, by_name, by_identifier, "
    "by_address, server, end_kind, ended_at, ended_by, ended_from, end_reason) "
    "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

const std::string kInForce = BanEndName(BanEnd::InForce);
const std::string kLifted = BanEndName(BanEnd::Lifted);
const std::string kExpired = BanEndName(BanEnd::Expired);

// One transaction, rolled back unless committed. A write transaction takes
// the write lock at once (BEGIN IMMEDIATE), so it never fails half-way for
// want of it.
class TTransaction {
 public:
  enum class Kind { Read, Write };
  TTransaction(TSqliteDb& db, Kind kind) : db_(db) {
    open_ = db_.Exec(kind == Kind::Write ? "BEGIN IMMEDIATE" : "BEGIN", &error_);
  }
  ~TTransaction() {
    if (!open_) return;
    std::string ignored;
    db_.Exec("ROLLBACK", &ignored);
  }
  TTransaction(const TTransaction&) = delete;
  TTransaction& operator=(const TTransaction&) = delete;

  bool Begun(std::string* error) const {
    if (!open_) *error = error_;
    return open_;
  }
  bool Commit(std::string* error) {
    if (!db_.Exec("COMMIT", error)) return false;
    open_ = false;
    return true;
  }

 private:
  TSqliteDb& db_;
  bool open_ = false;
  std::string error_;
};

bool Prepared(const TStatement& statement, std::string* error) {
  if (!statement.Ok()) *error = statement.Error();
  return statement.Ok();
}

// The text cut to at most bytes, never inside a UTF-8 sequence.
std::string CutText(const std::string& text, size_t bytes) {
  if (text.size() <= bytes) return text;
  size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

TBanRecord RecordFromRow(const TStatement& row) {
  TBanRecord record;
  record.Id = row.Int(0);
  record.Identifier = row.Text(1);
  record.Name = row.Text(2);
  record.Address = row.Text(3);
  record.Reason = row.Text(4);
  record.MadeAt = row.Int(5);
  record.EndsAt = row.Int(6);
  // A name this program does not know (a newer program's) reads as the default.
  ParseBanOrigin(row.Text(7), &record.Origin);
  record.ByName = row.Text(8);
  record.ByIdentifier = row.Text(9);
  record.ByAddress = row.Text(10);
  record.Server = row.Text(11);
  ParseBanEnd(row.Text(12), &record.End);
  record.EndedAt = row.Int(13);
  record.EndedBy = row.Text(14);
  record.EndedFrom = row.Text(15);
  record.EndReason = row.Text(16);
  return record;
}

// Runs a query whose answer rows are records (kColumns), appending them.
bool ReadRecords(TStatement& statement, std::vector<TBanRecord>& records, std::string* error) {
  for (;;) {
    switch (statement.Next()) {
      case TStatement::Step::Row:
        records.push_back(RecordFromRow(statement));
        break;
      case TStatement::Step::Done:
        return true;
      case TStatement::Step::Failed:
        *error = statement.Error();
        return false;
    }
  }
}

// Reads a one-number answer.
std::optional<int64_t> ReadNumber(TStatement& statement, std::string* error) {
  const TStatement::Step step = statement.Next();
  if (step == TStatement::Step::Failed) {
    *error = statement.Error();
    return std::nullopt;
  }
  return step == TStatement::Step::Row ? statement.Int(0) : 0;
}

// 1 when the base has its tables (the schema_version table), 0 when not.
std::optional<int64_t> SchemaTables(const TSqliteDb& db, std::string* error) {
  TStatement exists(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'schema_version'");
  if (!Prepared(exists, error)) return std::nullopt;
  return ReadNumber(exists, error);
}

}  // namespace

TRecordBase::~TRecordBase() {
  TTimedMutexLock guard(lock_);
  std::string ignored;
  if (db_.IsOpen() && !Usable(&ignored)) db_.Abandon();
}

bool TRecordBase::Usable(std::string* error) {
  if (!db_.IsOpen()) {
    *error = "the record base is not open";
    return false;
  }
  return platform::WritableIfPresent(path_ + "-shm", error);
}

bool TRecordBase::LockForRead(std::string* error) {
  if (lock_.TryLockFor(kReadWait)) return true;
  *error = "the ban records are busy (a write has held them for over " + std::to_string(kReadWait.count()) +
           " ms); try again";
  return false;
}

bool TRecordBase::Open(const std::string& path, std::string* error, int busyTimeoutMs) {
  TTimedMutexLock guard(lock_);
  if (db_.IsOpen()) {
    *error = "the record base is open already";
    return false;
  }
  path_ = path;
  std::string reason;
  // SQLite maps the -shm file: one it cannot write would be mapped read-only
  // and the first write to it would kill the process.
  if (!platform::WritableIfPresent(path + "-shm", &reason)) {
    *error = "cannot open the record base " + path + ": " + reason;
    return false;
  }
  std::optional<TSqliteDb> db = TSqliteDb::Open(path, &reason);
  if (!db) {
    *error = "cannot open the record base " + path + ": " + reason;
    return false;
  }
  db_ = std::move(*db);
  if (!db_.Exec("PRAGMA busy_timeout = " + std::to_string(busyTimeoutMs) +
                    "; PRAGMA foreign_keys = ON; PRAGMA mmap_size = 0;",
                &reason) ||
      !db_.Exec("PRAGMA journal_mode = WAL", &reason) || !Usable(&reason) || !CreateOrCheckSchema(&reason) ||
      !IndexUpToDate(&reason)) {
    *error = "cannot open the record base " + path + ": " + reason;
    std::string ignored;
    if (!Usable(&ignored)) db_.Abandon();
    db_ = TSqliteDb();
    index_ = TSearchIndex();
    return false;
  }
  return true;
}

void TRecordBase::Close() {
  TTimedMutexLock guard(lock_);
  std::string ignored;
  if (db_.IsOpen() && !Usable(&ignored)) db_.Abandon();
  db_ = TSqliteDb();
  index_ = TSearchIndex();
  indexStale_ = true;
}

bool TRecordBase::Check(std::string* error) {
  TTimedMutexLock guard(lock_);
  if (!Usable(error)) return false;
  TStatement version(db_, "SELECT max(version) FROM schema_version");
  if (!Prepared(version, error)) return false;
  return ReadNumber(version, error).has_value();
}

bool TRecordBase::CreateOrCheckSchema(std::string* error) {
  // A base that has its tables is only read here, so that opening it never
  // waits for another process's write lock.
  std::optional<int64_t> found = SchemaTables(db_, error);
  if (!found) return false;
  TTransaction transaction(db_, *found == 0 ? TTransaction::Kind::Write : TTransaction::Kind::Read);
  if (!transaction.Begun(error)) return false;
  if (*found == 0) found = SchemaTables(db_, error);  // another program may have made them meanwhile
  if (!found) return false;
  if (*found == 0) {
    if (!db_.Exec(kSchema, error)) return false;
    TStatement version(db_, "INSERT INTO schema_version(version) VALUES(?)");
    if (!Prepared(version, error)) return false;
    if (!version.Bind(1, kSchemaVersion).Run()) {
      *error = version.Error();
      return false;
    }
    if (!transaction.Commit(error)) return false;
    created_ = true;
    return true;
  }
  TStatement version(db_, "SELECT max(version) FROM schema_version");
  if (!Prepared(version, error)) return false;
  const std::optional<int64_t> number = ReadNumber(version, error);
  if (!number) return false;
  if (*number > kSchemaVersion) {
    *error = "its schema version " + std::to_string(*number) + " is newer than this program's " +
             std::to_string(kSchemaVersion) + "; use the program that made it, or a newer one";
    return false;
  }
  TStatement index(db_, "SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name = 'bans_identifier_newest'");
  if (!Prepared(index, error)) return false;
  const std::optional<int64_t> indexed = ReadNumber(index, error);
  if (!indexed || !transaction.Commit(error)) return false;
  // One page of an identifier's history reads that page through this index;
  // a base made before it gets it here, the one write an opening may make.
  // Should another program hold the base now, the next opening tries again;
  // the pages are only slower meanwhile.
  std::string ignored;
  if (*indexed == 0) {
    db_.Exec("CREATE INDEX bans_identifier_newest ON bans(identifier, made_at DESC, id DESC)", &ignored);
  }
  return true;
}

bool TRecordBase::IndexUpToDate(std::string* error) {
  TStatement version(db_, "PRAGMA data_version");
  if (!Prepared(version, error)) return false;
  const std::optional<int64_t> now = ReadNumber(version, error);
  if (!now) return false;
  if (!indexStale_ && *now == dataVersion_) return true;
  TTransaction transaction(db_, TTransaction::Kind::Read);
  if (!transaction.Begun(error)) return false;
  TStatement added(db_,
                   "SELECT id, made_at, end_kind, name, identifier, address, reason FROM bans WHERE id > ? ORDER BY id");
  TStatement inForce(db_, "SELECT id FROM bans WHERE end_kind = ?");
  if (!Prepared(added, error) || !Prepared(inForce, error)) return false;
  added.Bind(1, index_.MaxId());
  for (TStatement::Step step; (step = added.Next()) != TStatement::Step::Done;) {
    if (step == TStatement::Step::Failed) {
      *error = added.Error();
      return false;
    }
    const std::string name = added.Text(3), identifier = added.Text(4), address = added.Text(5),
                      reason = added.Text(6);
    index_.Add({added.Int(0), added.Int(1), added.Text(2) == kInForce, name, identifier, address, reason});
  }
  std::unordered_set<int64_t> ids;
  inForce.Bind(1, kInForce);
  for (TStatement::Step step; (step = inForce.Next()) != TStatement::Step::Done;) {
    if (step == TStatement::Step::Failed) {
      *error = inForce.Error();
      return false;
    }
    ids.insert(inForce.Int(0));
  }
  index_.KeepInForce(ids);
  dataVersion_ = *now;
  indexStale_ = false;
  return true;
}

size_t TRecordBase::SearchMemoryBytes() const {
  TTimedMutexLock guard(lock_);
  return index_.Bytes();
}

bool TRecordBase::IsOpen() const {
  TTimedMutexLock guard(lock_);
  return db_.IsOpen();
}

bool TRecordBase::Created() const {
  TTimedMutexLock guard(lock_);
  return created_;
}

bool TRecordBase::Insert(const TBanRecord& record, int64_t* id, std::string* error) {
  TStatement insert(db_, kInsertSql);
  return Prepared(insert, error) && Insert(insert, record, id, error);
}

bool TRecordBase::Insert(TStatement& insert, const TBanRecord& record, int64_t* id, std::string* error) {
  insert.Reset();
  const std::string reason = CutText(record.Reason, kReasonBytes);
  insert.Bind(1, record.Identifier).Bind(2, record.Name).Bind(3, record.Address).Bind(4, reason);
  insert.Bind(5, record.MadeAt).Bind(6, record.EndsAt).Bind(7, std::string(BanOriginName(record.Origin)));
  insert.Bind(8, record.ByName).Bind(9, record.ByIdentifier).Bind(10, record.ByAddress).Bind(11, record.Server);
  insert.Bind(12, std::string(BanEndName(record.End))).Bind(13, record.EndedAt).Bind(14, record.EndedBy);
  insert.Bind(15, record.EndedFrom).Bind(16, record.EndReason);
  if (!insert.Run()) {
    *error = insert.Error();
    return false;
  }
  *id = db_.LastInsertId();
  if (record.Evidence.empty()) return true;
  TStatement evidence(db_, "INSERT INTO evidence(ban_id, position, path) VALUES(?, ?, ?)");
  if (!Prepared(evidence, error)) return false;
  for (size_t i = 0; i < record.Evidence.size(); ++i) {
    evidence.Reset();
    if (!evidence.Bind(1, *id).Bind(2, static_cast<int64_t>(i)).Bind(3, record.Evidence[i]).Run()) {
      *error = evidence.Error();
      return false;
    }
  }
  return true;
}

std::optional<int64_t> TRecordBase::Add(const TBanRecord& record, std::string* error) {
  std::vector<TBanRecord> one{record};
  if (!AddAll(one, error)) return std::nullopt;
  return one.front().Id;
}

bool TRecordBase::AddAll(std::vector<TBanRecord>& records, std::string* error) {
  TTimedMutexLock guard(lock_);
  if (!Usable(error)) return false;
  indexStale_ = true;
  TTransaction transaction(db_, TTransaction::Kind::Write);
  if (!transaction.Begun(error)) return false;
  std::vector<int64_t> ids(records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    if (!Insert(records[i], &ids[i], error)) return false;
  }
  if (!transaction.Commit(error)) return false;
  for (size_t i = 0; i < records.size(); ++i) records[i].Id = ids[i];
  return true;
}

bool TRecordBase::AddAllThen(std::vector<TBanRecord>& records, const std::function<bool(std::string*)>& beforeCommit,
                             std::string* error) {
  TTimedMutexLock guard(lock_);
  if (!Usable(error)) return false;
  indexStale_ = true;
  TTransaction transaction(db_, TTransaction::Kind::Write);
  if (!transaction.Begun(error)) return false;
  // One statement for all: preparing it costs more than running it.
  TStatement insert(db_, kInsertSql);
  if (!Prepared(insert, error)) return false;
  std::vector<int64_t> ids(records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    if (!Insert(insert, records[i], &ids[i], error)) return false;
  }
  if (!beforeCommit(error) || !transaction.Commit(error)) return false;
  for (size_t i = 0; i < records.size(); ++i) records[i].Id = ids[i];
  return true;
}

std::optional<int> TRecordBase::Import(const std::vector<std::string>& lines, int64_t now, std::string* error,
                                       std::vector<std::string>* badLines) {
  // The file's longest ban of each identifier: 0 for ever, else its end.
  std::map<std::string, int64_t> endOf;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.empty() || line[0] == ';') continue;
    const std::string identifier = ExtractQuoted(line, 2);
    const std::string duration = ExtractQuoted(line, 1);
    std::optional<int64_t> end;
    if (duration == "p") {
      end = 0;
    } else if (const std::optional<int32_t> minutes = ParseInteger(duration)) {
      // A record at 1 minute or less is dropped by the next maintenance.
      end = now + 60 * std::max<int64_t>(1, *minutes);
    }
    if (identifier.empty() || !end) {
      if (badLines) badLines->push_back("line " + std::to_string(i + 1) + ": " + line);
      continue;
    }
    const auto [kept, fresh] = endOf.emplace(identifier, *end);
    if (!fresh && kept->second != 0 && (*end == 0 || *end > kept->second)) kept->second = *end;
  }
  TTimedMutexLock guard(lock_);
  if (!Usable(error)) return std::nullopt;
  indexStale_ = true;
  TTransaction transaction(db_, TTransaction::Kind::Write);
  if (!transaction.Begun(error)) return std::nullopt;
  TStatement inForce(db_, "SELECT count(*) FROM bans WHERE identifier = ? AND end_kind = ?");
  if (!Prepared(inForce, error)) return std::nullopt;
  int added = 0;
  for (const auto& [identifier, end] : endOf) {
    inForce.Reset();
    inForce.Bind(1, identifier).Bind(2, kInForce);
    const std::optional<int64_t> present = ReadNumber(inForce, error);
    if (!present) return std::nullopt;
    if (*present > 0) continue;
    TBanRecord record;
    record.Identifier = identifier;
    record.MadeAt = 0;  // unknown: the file does not say
    record.EndsAt = end;
    record.Origin = BanOrigin::Imported;
    int64_t id = 0;
    if (!Insert(record, &id, error)) return std::nullopt;
    ++added;
  }
  if (!transaction.Commit(error)) return std::nullopt;
  return added;
}

bool TRecordBase::ApplyChanges(const std::vector<TChange>& changes, std::string* error) {
  TTimedMutexLock guard(lock_);
  if (!Usable(error)) return false;
  indexStale_ = true;
  TTransaction transaction(db_, TTransaction::Kind::Write);
  if (!transaction.Begun(error)) return false;
  TStatement lift(db_,
                  "UPDATE bans SET end_kind = ?, ended_at = ?, ended_by = ?, ended_from = ?, end_reason = ? "
                  "WHERE identifier = ? AND end_kind = ?");
  if (!Prepared(lift, error)) return false;
  for (const TChange& change : changes) {
    if (!change.IsLift) {
      int64_t id = 0;
      if (!Insert(change.Ban, &id, error)) return false;
      continue;
    }
    lift.Reset();
    lift.Bind(1, kLifted).Bind(2, change.At).Bind(3, change.Lift.By).Bind(4, change.Lift.From);
    if (!lift.Bind(5, change.Lift.Reason).Bind(6, change.Identifier).Bind(7, kInForce).Run()) {
      *error = lift.Error();
      return false;
    }
  }
  return transaction.Commit(error);
}

std::optional<int> TRecordBase::Lift(const std::string& identifier, const TBanLift& lift, int64_t now,
                                     std::string* error) {
  TTimedMutexLock guard(lock_);
  if (!Usable(error)) return std::nullopt;
  indexStale_ = true;
  TStatement update(db_,
                    "UPDATE bans SET end_kind = ?, ended_at = ?, ended_by = ?, ended_from = ?, end_reason = ? "
                    "WHERE identifier = ? AND end_kind = ?");
  if (!Prepared(update, error)) return std::nullopt;
  update.Bind(1, kLifted).Bind(2, now).Bind(3, lift.By).Bind(4, lift.From).Bind(5, lift.Reason);
  if (!update.Bind(6, identifier).Bind(7, kInForce).Run()) {
    *error = update.Error();
    return std::nullopt;
  }
  return db_.Changes();
}

std::optional<int> TRecordBase::Expire(int64_t now, std::string* error) {
  TTimedMutexLock guard(lock_);
  if (!Usable(error)) return std::nullopt;
  indexStale_ = true;
  TStatement update(db_,
                    "UPDATE bans SET end_kind = ?, ended_at = ends_at "
                    "WHERE end_kind = ? AND ends_at > 0 AND ends_at <= ?");
  if (!Prepared(update, error)) return std::nullopt;
  if (!update.Bind(1, kExpired).Bind(2, kInForce).Bind(3, now).Run()) {
    *error = update.Error();
    return std::nullopt;
  }
  return db_.Changes();
}

std::optional<int> TRecordBase::EndRecords(const std::vector<std::pair<int64_t, int64_t>>& idAndEndedAt,
                                           std::string* error) {
  indexStale_ = true;
  TTransaction transaction(db_, TTransaction::Kind::Write);
  if (!transaction.Begun(error)) return std::nullopt;
  TStatement update(db_, "UPDATE bans SET end_kind = ?, ended_at = ? WHERE id = ? AND end_kind = ?");
  if (!Prepared(update, error)) return std::nullopt;
  int ended = 0;
  for (const auto& [id, endedAt] : idAndEndedAt) {
    update.Reset();
    if (!update.Bind(1, kExpired).Bind(2, endedAt).Bind(3, id).Bind(4, kInForce).Run()) {
      *error = update.Error();
      return std::nullopt;
    }
    ended += db_.Changes();
  }
  if (!transaction.Commit(error)) return std::nullopt;
  return ended;
}

std::optional<int> TRecordBase::ExpireAllBut(const std::set<std::string>& inFile, int64_t now, std::string* error) {
  TTimedMutexLock guard(lock_);
  if (!Usable(error)) return std::nullopt;
  struct TInForce {
    int64_t Id;
    int64_t EndsAt;
  };
  std::map<std::string, std::vector<TInForce>> byIdentifier;
  {
    // The records in force are as many as the bans in the file, give or take
    // a few: few enough to judge here.
    TStatement select(db_, "SELECT id, identifier, ends_at FROM bans WHERE end_kind = ?");
    if (!Prepared(select, error)) return std::nullopt;
    select.Bind(1, kInForce);
    for (TStatement::Step step; (step = select.Next()) != TStatement::Step::Done;) {
      if (step == TStatement::Step::Failed) {
        *error = select.Error();
        return std::nullopt;
      }
      byIdentifier[select.Text(1)].push_back({select.Int(0), select.Int(2)});
    }
  }
  std::vector<std::pair<int64_t, int64_t>> toEnd;
  for (const auto& [identifier, records] : byIdentifier) {
    if (!inFile.contains(identifier)) {
      for (const TInForce& record : records) {
        const bool passed = record.EndsAt > 0 && record.EndsAt < now;
        toEnd.emplace_back(record.Id, passed ? record.EndsAt : now);
      }
      continue;
    }
    // The record that ends last (never ends last of all; then the newest)
    // stands for the file's ban, whatever the clock says.
    const auto last = std::max_element(records.begin(), records.end(), [](const TInForce& a, const TInForce& b) {
      const int64_t endA = a.EndsAt == 0 ? INT64_MAX : a.EndsAt;
      const int64_t endB = b.EndsAt == 0 ? INT64_MAX : b.EndsAt;
      return endA != endB ? endA < endB : a.Id < b.Id;
    });
    for (auto record = records.begin(); record != records.end(); ++record) {
      if (record != last && record->EndsAt > 0 && record->EndsAt <= now) toEnd.emplace_back(record->Id, record->EndsAt);
    }
  }
  if (toEnd.empty()) return 0;
  return EndRecords(toEnd, error);
}

bool TRecordBase::LoadEvidence(std::vector<TBanRecord>& records, std::string* error) {
  TStatement select(db_, "SELECT path FROM evidence WHERE ban_id = ? ORDER BY position");
  if (!Prepared(select, error)) return false;
  for (TBanRecord& record : records) {
    select.Reset();
    select.Bind(1, record.Id);
    for (TStatement::Step step; (step = select.Next()) != TStatement::Step::Done;) {
      if (step == TStatement::Step::Failed) {
        *error = select.Error();
        return false;
      }
      record.Evidence.push_back(select.Text(0));
    }
  }
  return true;
}

std::optional<TBanPage> TRecordBase::Search(const TBanQuery& query, std::string* error) {
  const int64_t perPage = std::clamp(query.PerPage, 1, kMaxPerPage);
  const int64_t page = std::max(query.Page, 1);
  const std::string folded = FoldForSearch(query.Text);
  const TSearchIndex::Which which = query.Filter == TBanQuery::Which::InForce ? TSearchIndex::Which::InForce
                                    : query.Filter == TBanQuery::Which::Ended ? TSearchIndex::Which::Ended
                                                                              : TSearchIndex::Which::All;
  if (!LockForRead(error)) return std::nullopt;
  TTimedMutexLock guard(lock_, std::adopt_lock);
  if (!Usable(error)) return std::nullopt;
  if (!IndexUpToDate(error)) return std::nullopt;
  TBanPage result;
  const std::vector<int64_t> ids =
      index_.Find(folded, which, (page - 1) * perPage, perPage, &result.Total, query.MatchAddress);
  if (ids.empty()) return result;
  std::string placeholders;
  for (size_t i = 0; i < ids.size(); ++i) placeholders += i == 0 ? "?" : ", ?";
  TTransaction transaction(db_, TTransaction::Kind::Read);
  if (!transaction.Begun(error)) return std::nullopt;
  TStatement select(db_, std::string("SELECT ") + kColumns + " FROM bans WHERE id IN (" + placeholders + ")");
  if (!Prepared(select, error)) return std::nullopt;
  for (size_t i = 0; i < ids.size(); ++i) select.Bind(static_cast<int>(i) + 1, ids[i]);
  std::vector<TBanRecord> records;
  if (!ReadRecords(select, records, error)) return std::nullopt;
  // In the index's order, newest first.
  std::map<int64_t, TBanRecord*> byId;
  for (TBanRecord& record : records) byId[record.Id] = &record;
  for (const int64_t id : ids) {
    if (const auto found = byId.find(id); found != byId.end()) result.Records.push_back(std::move(*found->second));
  }
  if (!LoadEvidence(result.Records, error)) return std::nullopt;
  return result;
}

std::optional<TBanRecord> TRecordBase::Get(int64_t id, std::string* error) {
  error->clear();
  if (!LockForRead(error)) return std::nullopt;
  TTimedMutexLock guard(lock_, std::adopt_lock);
  if (!Usable(error)) return std::nullopt;
  TTransaction transaction(db_, TTransaction::Kind::Read);
  if (!transaction.Begun(error)) return std::nullopt;
  TStatement select(db_, std::string("SELECT ") + kColumns + " FROM bans WHERE id = ?");
  if (!Prepared(select, error)) return std::nullopt;
  select.Bind(1, id);
  std::vector<TBanRecord> records;
  if (!ReadRecords(select, records, error) || !LoadEvidence(records, error) || records.empty()) return std::nullopt;
  return std::move(records.front());
}

std::optional<std::vector<TBanRecord>> TRecordBase::History(const std::string& identifier, std::string* error) {
  if (!LockForRead(error)) return std::nullopt;
  TTimedMutexLock guard(lock_, std::adopt_lock);
  if (!Usable(error)) return std::nullopt;
  TTransaction transaction(db_, TTransaction::Kind::Read);
  if (!transaction.Begun(error)) return std::nullopt;
  TStatement select(db_, std::string("SELECT ") + kColumns +
                             " FROM bans WHERE identifier = ? ORDER BY made_at DESC, id DESC");
  if (!Prepared(select, error)) return std::nullopt;
  select.Bind(1, identifier);
  std::vector<TBanRecord> records;
  if (!ReadRecords(select, records, error) || !LoadEvidence(records, error)) return std::nullopt;
  return records;
}

std::optional<TBanPage> TRecordBase::HistoryPage(const std::string& identifier, int64_t exceptId, int page,
                                                 int perPage, std::string* error) {
  const int64_t limit = std::clamp(perPage, 1, kMaxPerPage);
  const int64_t offset = (std::max(page, 1) - int64_t{1}) * limit;
  if (!LockForRead(error)) return std::nullopt;
  TTimedMutexLock guard(lock_, std::adopt_lock);
  if (!Usable(error)) return std::nullopt;
  TTransaction transaction(db_, TTransaction::Kind::Read);
  if (!transaction.Begun(error)) return std::nullopt;
  TStatement count(db_, "SELECT count(*) FROM bans WHERE identifier = ? AND id <> ?");
  if (!Prepared(count, error)) return std::nullopt;
  count.Bind(1, identifier).Bind(2, exceptId);
  const std::optional<int64_t> total = ReadNumber(count, error);
  if (!total) return std::nullopt;
  TBanPage result;
  result.Total = *total;
  if (offset >= result.Total) return result;
  TStatement select(db_, std::string("SELECT ") + kColumns +
                             " FROM bans WHERE identifier = ? AND id <> ? ORDER BY made_at DESC, id DESC"
                             " LIMIT ? OFFSET ?");
  if (!Prepared(select, error)) return std::nullopt;
  select.Bind(1, identifier).Bind(2, exceptId).Bind(3, limit).Bind(4, offset);
  if (!ReadRecords(select, result.Records, error) || !LoadEvidence(result.Records, error)) return std::nullopt;
  return result;
}

std::optional<std::map<std::string, int64_t>> TRecordBase::CountByIdentifier(
    const std::vector<std::string>& identifiers, std::string* error) {
  if (!LockForRead(error)) return std::nullopt;
  TTimedMutexLock guard(lock_, std::adopt_lock);
  if (!Usable(error)) return std::nullopt;
  TTransaction transaction(db_, TTransaction::Kind::Read);
  if (!transaction.Begun(error)) return std::nullopt;
  TStatement count(db_, "SELECT count(*) FROM bans WHERE identifier = ?");
  if (!Prepared(count, error)) return std::nullopt;
  std::map<std::string, int64_t> counts;
  for (const std::string& identifier : identifiers) {
    count.Reset();
    count.Bind(1, identifier);
    const std::optional<int64_t> number = ReadNumber(count, error);
    if (!number) return std::nullopt;
    counts[identifier] = *number;
  }
  return counts;
}

std::optional<std::set<std::string>> TRecordBase::EvidencePaths(std::string* error) {
  if (!LockForRead(error)) return std::nullopt;
  TTimedMutexLock guard(lock_, std::adopt_lock);
  if (!Usable(error)) return std::nullopt;
  TStatement select(db_, "SELECT DISTINCT path FROM evidence");
  if (!Prepared(select, error)) return std::nullopt;
  std::set<std::string> paths;
  for (TStatement::Step step; (step = select.Next()) != TStatement::Step::Done;) {
    if (step == TStatement::Step::Failed) {
      *error = select.Error();
      return std::nullopt;
    }
    paths.insert(select.Text(0));
  }
  return paths;
}

}  // namespace records
