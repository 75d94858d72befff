// Small owning types over SQLite's C handles: a database connection closed
// when its owner goes, and a prepared statement finalized when its owner goes.
// Every failure comes back as false (or nullopt) with SQLite's own message.
// Neither type locks anything: the owner serialises its calls.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace records {

class TSqliteDb {
 public:
  TSqliteDb() = default;
  // Opens (creating when missing) the database file at path for reading and
  // writing. Empty with the reason on failure.
  static std::optional<TSqliteDb> Open(const std::string& path, std::string* error);

  bool IsOpen() const { return db_ != nullptr; }
  sqlite3* Get() const { return db_.get(); }
  // Runs SQL without parameters or answer rows (one or more statements).
  bool Exec(const std::string& sql, std::string* error);
  // The last error SQLite reports for this connection.
  std::string LastError() const;
  int64_t LastInsertId() const;
  int Changes() const;
  // Lets go of the connection without closing it. Closing writes to the
  // base's shared memory (the -shm file, mapped): when that file has become
  // immutable, the write kills the process with SIGBUS, so such a connection
  // is left open until the process ends.
  void Abandon() { static_cast<void>(db_.release()); }

 private:
  struct TCloser {
    void operator()(sqlite3* db) const;
  };
  std::unique_ptr<sqlite3, TCloser> db_;
};

class TStatement {
 public:
  // Prepares one statement on db. Check Ok() (and take Error()) before use.
  TStatement(const TSqliteDb& db, const std::string& sql);
  bool Ok() const { return statement_ != nullptr; }
  const std::string& Error() const { return error_; }

  // Parameters count from 1. Texts are bound byte for byte (copied).
  TStatement& Bind(int index, int64_t value);
  TStatement& Bind(int index, const std::string& value);

  enum class Step { Row, Done, Failed };
  // One step; Failed keeps SQLite's message in Error().
  Step Next();
  // Steps to the end, for statements without answer rows.
  bool Run();
  // Ready for another round with new parameters.
  void Reset();

  int64_t Int(int column) const;
  std::string Text(int column) const;

 private:
  struct TFinalizer {
    void operator()(sqlite3_stmt* statement) const;
  };
  sqlite3* db_;  // not owned: the connection outlives its statements
  std::unique_ptr<sqlite3_stmt, TFinalizer> statement_;
  std::string error_;
};

// SQLite's message of a statement that failed, in *error; false.
inline bool StatementFailed(const TStatement& statement, std::string* error) {
  *error = statement.Error();
  return false;
}

// The one row a prepared select (its parameters bound) answers, read by
// rowOf: nullopt with *error left as it is when it answers none, nullopt
// with SQLite's message in *error when the step failed.
template <typename RowOf>
auto OneRow(TStatement& select, const RowOf& rowOf, std::string* error) -> std::optional<decltype(rowOf(select))> {
  switch (select.Next()) {
    case TStatement::Step::Row:
      return rowOf(select);
    case TStatement::Step::Done:
      return std::nullopt;
    case TStatement::Step::Failed:
      break;
  }
  StatementFailed(select, error);
  return std::nullopt;
}

// A short connection to the base at path for tables kept beside the ban
// records (the accounts, the audit trail, the appeals), with the tables in
// place: tableCount tables named in tableNames (an SQL list: "'a', 'b'") are
// created by createSql when any is missing; a base that has them is only
// read, so a base another process holds for writing still answers reads.
// The -shm file is checked first (SQLite maps it: one it cannot write would
// kill the process with SIGBUS), the file is never mapped, and a write waits
// at most busyTimeoutMs for another process. nullopt with the reason.
std::optional<TSqliteDb> OpenBesideRecords(const std::string& path, const std::string& tableNames, int64_t tableCount,
                                           const char* createSql, int busyTimeoutMs, std::string* error);

}  // namespace records
