// The file base with its records: zelk_bans.txt decides who may play, as it
// always did, and acserver.db beside it keeps the record of every ban and of
// how it ended. The records never stand in the way of a ban: a ban is in the
// file before its record is written, a record that cannot be written waits in
// memory and is tried again at every minute's maintenance, and a record base
// that cannot be opened is tried again there too (the bans are enforced all
// the same). A ban whose record was lost with the process is added as
// "imported" when the records next follow the file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/mutex.h"
#include "game/ban_store.h"
#include "records/record_base.h"

namespace records {

class TRecordedFileStore : public TBanStore {
 public:
  // Opens the record base at path and brings it in line with the file (the
  // first start imports the bans already there). Main thread.
  explicit TRecordedFileStore(std::string path);
  TRecordedFileStore(const TRecordedFileStore&) = delete;
  TRecordedFileStore& operator=(const TRecordedFileStore&) = delete;

  BanLookup Lookup(const std::string& identifier, std::string* left) override;
  bool Record(const TBanRecord& ban) override;
  void Refresh() override {}
  // The file's minute, then the records: those waiting are written, and the
  // records follow the file.
  void Maintain() override;
  LiftResult Lift(const std::string& identifier, const TBanLift& lift) override;
  bool List(std::vector<TBanView>& bans, std::string* error) override;
  bool Search(const TBanQuery& query, TBanPage& page, std::string* error) override;
  std::optional<TBanRecord> Get(int64_t id, std::string* error) override;
  bool History(const std::string& identifier, std::vector<TBanRecord>& records, std::string* error) override;
  bool HistoryPage(const std::string& identifier, int64_t exceptId, int page, int perPage, TBanPage& out,
                   std::string* error) override;
  bool CountBans(const std::vector<std::string>& identifiers, std::map<std::string, int64_t>& counts,
                 std::string* error) override;
  bool EvidencePaths(std::set<std::string>& paths, std::string* error) override;

  // Records waiting to be written (tests, the web console).
  size_t Waiting();

 private:
  // The record base when it is open; null (with the reason in error) when not.
  std::shared_ptr<TRecordBase> Base(std::string* error);
  // Opens the base when it is not open; a line when that fails for the first
  // time, and when it works again. Main thread.
  void OpenIfClosed();
  // Writes the records waiting, all or none; a line when that fails for the
  // first time. Thread safe.
  void WriteWaiting();

  const std::string path_;
  TFileBanStore file_;
  // Guards the members below. Held only to swap pointers and lists, never
  // across a write to the record base.
  TMutex lock_;
  std::shared_ptr<TRecordBase> base_ GUARDED_BY(lock_);
  std::string openError_ GUARDED_BY(lock_);
  std::vector<TBanRecord> waiting_ GUARDED_BY(lock_);
  bool writeFailing_ GUARDED_BY(lock_) = false;
  // Serialises WriteWaiting, so that two writers never write one record twice.
  TMutex writeLock_;
};

}  // namespace records
