#include "bans/records/sqlite_handle.h"

#include <sqlite3.h>

#include "platform/files.h"

namespace records {

void TSqliteDb::TCloser::operator()(sqlite3* db) const { sqlite3_close_v2(db); }

std::optional<TSqliteDb> TSqliteDb::Open(const std::string& path, std::string* error) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  TSqliteDb db;
  db.db_.reset(raw);  // owned even when the open failed: SQLite hands back a handle to close
  if (rc != SQLITE_OK) {
    *error = raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
    return std::nullopt;
  }
  sqlite3_extended_result_codes(raw, 1);
  return db;
}

bool TSqliteDb::Exec(const std::string& sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
  *error = message ? message : LastError();
  sqlite3_free(message);
  return false;
}

std::string TSqliteDb::LastError() const { return db_ ? sqlite3_errmsg(db_.get()) : "no database open"; }

int64_t TSqliteDb::LastInsertId() const { return sqlite3_last_insert_rowid(db_.get()); }

int TSqliteDb::Changes() const { return sqlite3_changes(db_.get()); }

void TStatement::TFinalizer::operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }

TStatement::TStatement(const TSqliteDb& db, const std::string& sql) : db_(db.Get()) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db.Get(), sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr) != SQLITE_OK) {
    error_ = db.LastError();
    sqlite3_finalize(raw);
    return;
  }
  statement_.reset(raw);
}

TStatement& TStatement::Bind(int index, int64_t value) {
  sqlite3_bind_int64(statement_.get(), index, value);
  return *this;
}

TStatement& TStatement::Bind(int index, const std::string& value) {
  sqlite3_bind_text64(statement_.get(), index, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  return *this;
}

TStatement::Step TStatement::Next() {
  const int rc = sqlite3_step(statement_.get());
  if (rc == SQLITE_ROW) return Step::Row;
  if (rc == SQLITE_DONE) return Step::Done;
  error_ = sqlite3_errmsg(db_);
  return Step::Failed;
}

bool TStatement::Run() {
  for (;;) {
    const Step step = Next();
    if (step == Step::Done) return true;
    if (step == Step::Failed) return false;
  }
}

void TStatement::Reset() {
  sqlite3_reset(statement_.get());
  sqlite3_clear_bindings(statement_.get());
}

int64_t TStatement::Int(int column) const { return sqlite3_column_int64(statement_.get(), column); }

std::string TStatement::Text(int column) const {
  const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_.get(), column));
  const int size = sqlite3_column_bytes(statement_.get(), column);
  return bytes ? std::string(bytes, static_cast<size_t>(size)) : std::string();
}

std::optional<TSqliteDb> OpenBesideRecords(const std::string& path, const std::string& tableNames, int64_t tableCount,
                                           const char* createSql, int busyTimeoutMs, std::string* error) {
  if (!platform::WritableIfPresent(path + "-shm", error)) return std::nullopt;
  std::optional<TSqliteDb> db = TSqliteDb::Open(path, error);
  if (!db) return std::nullopt;
  if (!db->Exec("PRAGMA busy_timeout = " + std::to_string(busyTimeoutMs) + "; PRAGMA mmap_size = 0;", error)) {
    return std::nullopt;
  }
  TStatement exists(*db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN (" + tableNames + ")");
  if (!exists.Ok() || exists.Next() != TStatement::Step::Row) {
    *error = exists.Error();
    return std::nullopt;
  }
  if (exists.Int(0) != tableCount && !db->Exec(createSql, error)) return std::nullopt;
  return db;
}

}  // namespace records
