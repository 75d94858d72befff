// The local record base: every ban and every end of a ban as a record, in an
// embedded SQLite database (acserver.db beside zelk_bans.txt). Nothing is ever
// deleted: a lifted or expired ban keeps its record with how it ended, so an
// identifier's history shows all its bans. zelk_bans.txt stays what decides
// who may play; the connect lookup never reads this base.
//
// Several processes may use one base at once (the server and command-line
// tools): the database is in WAL mode, so readers never wait for the writer,
// and a writer waits up to 5 s for another process's write to finish.
//
// Within a process, one connection serves every caller, serialised by one
// TMutex: a search of 100,000 records takes milliseconds, so callers (the web
// console's threads, the main loop) wait at most that long for each other.
// Searches read an index in memory (search_index.h; about 13 MB per 100,000
// records, loaded by Open in some 0.4 s), brought up to date before each search when this object or another
// process has written since.
//
// Every call answers failure as nullopt (or false) with the reason in *error
// (never null), and throws nothing. A write that failed changed nothing (each
// is one transaction), so the caller may keep it and try again later.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "game/ban_record.h"
#include "records/search_index.h"
#include "records/sqlite_handle.h"

namespace records {

// The schema this program writes; a base with a higher version was made by a
// newer program and is refused.
inline constexpr int64_t kSchemaVersion = 1;
// Reasons are kept to this many bytes (cut at a character boundary).
inline constexpr size_t kReasonBytes = 64;

class TRecordBase {
 public:
  TRecordBase() = default;
  TRecordBase(const TRecordBase&) = delete;
  TRecordBase& operator=(const TRecordBase&) = delete;

  // Opens the base at path, creating it (and its tables) when missing. False
  // with the reason when it cannot be opened, is no SQLite database, or was
  // made by a newer program. Call once, before other threads use the object.
  bool Open(const std::string& path, std::string* error);
  bool IsOpen() const;
  // Whether Open created the tables: the base is new, and the bans already in
  // zelk_bans.txt should be imported once.
  bool Created() const;

  // Stores one record (its Id is ignored); the new record's Id.
  std::optional<int64_t> Add(const TBanRecord& record, std::string* error);
  // Stores all the records as one step (all or none), for a batch of writes
  // kept after a failure; sets each record's Id.
  bool AddAll(std::vector<TBanRecord>& records, std::string* error);

  // Takes the record lines of zelk_bans.txt ("<minutes or p>" "<identifier>",
  // as ReadBanRecords gives them): each becomes a record of origin Imported,
  // made at now and ending now + minutes (or never). An identifier that
  // already has as many records in force as it has lines is left alone, so a
  // second import adds nothing. Lines without a known duration are skipped.
  // How many records were added.
  std::optional<int> Import(const std::vector<std::string>& lines, int64_t now, std::string* error);

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
  bool CreateOrCheckSchema(std::string* error) REQUIRES(lock_);
  bool IndexUpToDate(std::string* error) REQUIRES(lock_);
  bool Insert(const TBanRecord& record, int64_t* id, std::string* error) REQUIRES(lock_);
  bool LoadEvidence(std::vector<TBanRecord>& records, std::string* error) REQUIRES(lock_);
  std::optional<int> EndRecords(const std::vector<std::pair<int64_t, int64_t>>& idAndEndedAt, std::string* error)
      REQUIRES(lock_);

  mutable TMutex lock_;
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
