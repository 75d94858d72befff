// The local record base: every ban and every end of a ban as a record, in an
// embedded SQLite database (acserver.db beside zelk_bans.txt). Nothing is ever
// deleted: a lifted or expired ban keeps its record with how it ended, so an
// identifier's history shows all its bans. zelk_bans.txt stays what decides
// who may play; the connect lookup never reads this base.
//
// Several processes may use one base at once (the server and command-line
// tools): the database is in WAL mode, so readers never wait for the writer,
// and a writer waits up to busyTimeoutMs (5 s by default) for another
// process's write to finish.
//
// Within a process, one connection serves every caller, serialised by one
// lock: a search of 100,000 records takes milliseconds, but a write may wait
// for another process's lock, so a read that cannot have the connection
// within 1 s fails with "busy" instead of waiting longer.
//
// No state of the files may kill the process: the database file is never
// mapped (mmap_size 0), and the shared memory (-shm, which SQLite maps) is
// checked before every call: once it cannot be written (read-only, chattr
// +i), every call fails with that reason instead of writing to the mapping
// (SIGBUS), and the connection is never closed while that lasts.
// Searches read an index in memory (search_index.h; about 13 MB per 100,000
// records, loaded by Open in some 0.4 s), brought up to date before each search when this object or another
// process has written since.
//
// Every call answers failure as nullopt (or false) with the reason in *error
// (never null), and throws nothing. A write that failed changed nothing (each
// is one transaction), so the caller may keep it and try again later.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "bans/ban_record.h"
#include "bans/records/search_index.h"
#include "bans/records/sqlite_handle.h"

namespace records {

// The schema this program writes; a base with a higher version was made by a
// newer program and is refused.
inline constexpr int64_t kSchemaVersion = 1;
// Reasons are kept to this many bytes (cut at a character boundary).
inline constexpr size_t kReasonBytes = 64;
// How long a writer waits for another process's write by default.
inline constexpr int kDefaultBusyTimeoutMs = 5000;
// How long a read waits for this process's other users of the connection.
inline constexpr std::chrono::milliseconds kReadWait{1000};

class TRecordBase {
 public:
  TRecordBase() = default;
  ~TRecordBase();
  TRecordBase(const TRecordBase&) = delete;
  TRecordBase& operator=(const TRecordBase&) = delete;

  // Opens the base at path, creating it (and its tables) when missing. False
  // with the reason when it cannot be opened, is no SQLite database, or was
  // made by a newer program. Call once, before other threads use the object.
  bool Open(const std::string& path, std::string* error, int busyTimeoutMs = kDefaultBusyTimeoutMs);
  // Whether the base still answers: its shared memory can be written and its
  // schema can be read (a file overwritten with something else fails here).
  bool Check(std::string* error);
  bool IsOpen() const;
  // Closes the connection once the call under way ends; every later call
  // fails. For a base whose file was deleted or replaced: its connection
  // must be gone before a new one opens the name, whose -wal it would share.
  void Close();
  // Whether Open created the tables: the base is new, and the bans already in
  // zelk_bans.txt should be imported once.
  bool Created() const;

  // Stores one record (its Id is ignored); the new record's Id.
  std::optional<int64_t> Add(const TBanRecord& record, std::string* error);
  // Stores all the records as one step (all or none), for a batch of writes
  // kept after a failure; sets each record's Id.
  bool AddAll(std::vector<TBanRecord>& records, std::string* error);

  // Stores all the records and runs beforeCommit inside the same
  // transaction: when it fails (false with the reason), nothing is stored.
  // For a step that must happen with the records or not at all (the import's
  // append to zelk_bans.txt).
  bool AddAllThen(std::vector<TBanRecord>& records, const std::function<bool(std::string*)>& beforeCommit,
                  std::string* error);

  // Takes the lines of zelk_bans.txt ("<minutes or p>" "<identifier>";
  // comments and empty lines are skipped): each identifier without a record
  // in force gets one, of origin Imported, made at an unknown time (MadeAt 0)
  // and ending at now + minutes (or never); of several lines of one
  // identifier, the longest ban counts. A second import therefore adds
  // nothing. Lines without a known duration are skipped, each named in
  // badLines (when given) as "line <n>: <text>", n counting from 1 in lines.
  // How many records were added.
  std::optional<int> Import(const std::vector<std::string>& lines, int64_t now, std::string* error,
                            std::vector<std::string>* badLines = nullptr);

  // A change a tool could not make in the base when it made the ban or lift
  // (records/pending_records.h): a ban's record to add, or a lift of the
  // identifier's records in force at At.
  struct TChange {
    bool IsLift = false;
    TBanRecord Ban;
    std::string Identifier;
    TBanLift Lift;
    int64_t At = 0;
  };
  // Makes the changes in their order, as one step (all or none).
  bool ApplyChanges(const std::vector<TChange>& changes, std::string* error);

  // Ends every record of the identifier in force as Lifted at now; how many.
  std::optional<int> Lift(const std::string& identifier, const TBanLift& lift, int64_t now, std::string* error);
  // Ends as Expired every timed record in force whose end has come (EndsAt <=
  // now), at its EndsAt; how many. For bans whose enforcement follows the
  // clock; with zelk_bans.txt use ExpireAllBut.
  std::optional<int> Expire(int64_t now, std::string* error);
  // The file decides: ends as Expired every record in force whose identifier
  // is not in inFile (the identifiers of zelk_bans.txt), at its EndsAt when
  // that has passed, else at now. Of an identifier still in the file, a timed
  // record whose end has passed is ended too, but never the one that ends last
  // (or never): a ban in the file always has a record in force. How many.
  std::optional<int> ExpireAllBut(const std::set<std::string>& inFile, int64_t now, std::string* error);

  // One page of the records matching the query, newest first (by MadeAt,
  // then Id), and how many match in all. Page and PerPage are clamped (page
  // from 1, 1 to 500 a page). Text is a substring of the name, identifier,
  // address or reason, ignoring the case of ASCII, Latin-1 and Cyrillic
  // letters (FoldForSearch); control bytes in it are ignored.
  std::optional<TBanPage> Search(const TBanQuery& query, std::string* error);
  // The record with that Id; nullopt with *error empty when there is none.
  std::optional<TBanRecord> Get(int64_t id, std::string* error);
  // Every record of the identifier, newest first.
  std::optional<std::vector<TBanRecord>> History(const std::string& identifier, std::string* error);
  // One page of the identifier's records but the one numbered exceptId
  // (0: none), newest first, and how many there are in all. Reads only the
  // page's records, however long the history.
  std::optional<TBanPage> HistoryPage(const std::string& identifier, int64_t exceptId, int page, int perPage,
                                      std::string* error);
  // How many records (in force or ended) each identifier has; an identifier
  // without records is in the map with 0.
  std::optional<std::map<std::string, int64_t>> CountByIdentifier(const std::vector<std::string>& identifiers,
                                                                   std::string* error);
  // Every evidence path of every record: the screenshots that must be kept.
  std::optional<std::set<std::string>> EvidencePaths(std::string* error);
  // The memory the search index holds, in bytes.
  size_t SearchMemoryBytes() const;

 private:
  // Whether the connection may be used now (open, its -shm writable).
  bool Usable(std::string* error) REQUIRES(lock_);
  // Takes the lock for a read, or fails with "busy" after kReadWait.
  bool LockForRead(std::string* error) TRY_ACQUIRE(true, lock_);
  bool CreateOrCheckSchema(std::string* error) REQUIRES(lock_);
  bool IndexUpToDate(std::string* error) REQUIRES(lock_);
  bool Insert(const TBanRecord& record, int64_t* id, std::string* error) REQUIRES(lock_);
  // The same with the insert statement prepared (kInsertSql) by the caller.
  bool Insert(TStatement& insert, const TBanRecord& record, int64_t* id, std::string* error) REQUIRES(lock_);
  bool LoadEvidence(std::vector<TBanRecord>& records, std::string* error) REQUIRES(lock_);
  std::optional<int> EndRecords(const std::vector<std::pair<int64_t, int64_t>>& idAndEndedAt, std::string* error)
      REQUIRES(lock_);

  mutable TTimedMutex lock_;
  std::string path_ GUARDED_BY(lock_);
  TSqliteDb db_ GUARDED_BY(lock_);
  bool created_ GUARDED_BY(lock_) = false;
  TSearchIndex index_ GUARDED_BY(lock_);
  // The base's data_version when the index was last brought up to date (it
  // moves with every other connection's commit), and whether this object
  // wrote since.
  int64_t dataVersion_ GUARDED_BY(lock_) = 0;
  bool indexStale_ GUARDED_BY(lock_) = true;
};

}  // namespace records
