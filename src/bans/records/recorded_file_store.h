// The file base with its records: zelk_bans.txt decides who may play, as it
// always did, and acserver.db beside it keeps the record of every ban and of
// how it ended.
//
// The records never stand in the way of a ban or of an answer: a ban is in
// the file (or in the file base's memory) when Record returns, and its record
// is only queued. One writer thread owns every write to the record base: it
// writes the queue in order (records and lifts), opens the base when it is
// closed, notices a base that was deleted or replaced (before each write, and
// once a minute with the maintenance) or stopped working, and tries again
// 10 s after a failure.
// Reads (search, history, counts, evidence) wait at most a second for the
// base and fail with the reason otherwise.
//
// Each ban gets exactly one record: the records follow zelk_bans.txt (a ban
// found there without a record is added as imported) only while no record
// waits in the queue, judged under the same lock that orders a ban's entry
// into the queue before its entry into the file.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "platform/mutex.h"
#include "bans/ban_store.h"
#include "platform/files.h"
#include "bans/records/record_base.h"

namespace records {

// How long the writer waits for another process's write lock before it
// leaves its queue for the next try: short, so that readers never wait long
// behind it.
inline constexpr int kWriterBusyTimeoutMs = 250;
// The next try after a failed write.
inline constexpr std::chrono::seconds kWriterRetry{10};
// How long a read waits for the orders queued before it, so that a search
// right after a ban finds it, while the base works.
inline constexpr std::chrono::milliseconds kReadQueueWait{500};

class TRecordedFileStore : public TBanStore, public TBanRecords {
 public:
  // Opens the record base at path and brings it in line with the file (the
  // first start imports the bans already there), then starts the writer.
  // Main thread.
  explicit TRecordedFileStore(std::string path, int busyTimeoutMs = kWriterBusyTimeoutMs);
  // Stops the writer after one last try at what waits.
  ~TRecordedFileStore() override;
  TRecordedFileStore(const TRecordedFileStore&) = delete;
  TRecordedFileStore& operator=(const TRecordedFileStore&) = delete;

  BanLookup Lookup(const std::string& identifier, std::string* left) override;
  BanLookup LookupAll(const std::set<std::string>& identifiers, std::map<std::string, std::string>& banned) override;
  bool Record(const TBanRecord& ban) override;
  void Refresh() override {}
  // The file's minute; the writer is woken to check the base, write what
  // waits and make the records follow the file.
  void Maintain() override;
  LiftResult Lift(const std::string& identifier, const TBanLift& lift) override;
  bool List(std::vector<TBanView>& bans, std::string* error) override;
  TBanRecords* Records() override { return this; }
  bool Search(const TBanQuery& query, TBanPage& page, std::string* error) override;
  std::optional<TBanRecord> Get(int64_t id, std::string* error) override;
  bool History(const std::string& identifier, std::vector<TBanRecord>& records, std::string* error) override;
  bool HistoryPage(const std::string& identifier, int64_t exceptId, int page, int perPage, TBanPage& out,
                   std::string* error) override;
  bool CountBans(const std::vector<std::string>& identifiers, std::map<std::string, int64_t>& counts,
                 std::string* error) override;
  bool EvidencePaths(std::set<std::string>& paths, std::string* error) override;
  TRecordsHealth RecordsHealth() override;

  // Records and lifts waiting to be written.
  size_t Waiting();
  // Wakes the writer and waits, at most wait, until it has done all it can
  // for now; true when nothing waits any more (tests).
  bool WaitWritten(std::chrono::milliseconds wait);

 private:
  struct TLiftOrder {
    std::string Identifier;
    TBanLift Lift;
    int64_t At = 0;
  };
  using TOrder = std::variant<TBanRecord, TLiftOrder>;

  // The record base when it is open; null with the reason when not.
  std::shared_ptr<TRecordBase> Base(std::string* error);
  // Base for a read: first waits (at most kReadQueueWait, and only while the
  // base works) until the orders queued so far are written.
  std::shared_ptr<TRecordBase> BaseForRead(std::string* error);
  // The writer's loop.
  void Work();
  // One round of the writer: takes what is due under lock_, does it without
  // the lock, and settles the queue. False when stopping.
  bool RunPass();
  // What a round does outside the lock: checks the base when check, opens it
  // when closed, writes the orders in order, and follows the file when due.
  // How many orders were written; error set when the round fell short.
  size_t WriteOrders(const std::vector<TOrder>& orders, bool check, std::string* error);
  // Makes the records follow zelk_bans.txt when no order waits beyond the
  // done ones. False with the reason on failure.
  bool FollowFile(TRecordBase& base, size_t done, std::string* error);
  // The lines said when the base stops or starts working again (each once).
  void SayFault(const std::string& reason);
  void SayWorking();

  const std::string path_;
  const int busyTimeoutMs_;
  TFileBanStore file_;
  // Held while a ban enters the queue and the file, and while the writer
  // reads the file to follow it: the writer never sees a ban in the file
  // whose record has not entered the queue yet.
  TMutex fileOrder_;
  // Guards the members below; never held across a call into the base.
  TMutex lock_;
  std::condition_variable wake_;  // the writer waits on it
  std::condition_variable idle_;  // WaitWritten waits on it
  std::shared_ptr<TRecordBase> base_ GUARDED_BY(lock_);
  std::deque<TOrder> orders_ GUARDED_BY(lock_);
  TRecordsHealth health_ GUARDED_BY(lock_);
  bool checkDue_ GUARDED_BY(lock_) = true;
  bool stop_ GUARDED_BY(lock_) = false;
  bool passing_ GUARDED_BY(lock_) = false;
  // Orders queued and written since the start, in the queue's order.
  uint64_t queued_ GUARDED_BY(lock_) = 0;
  uint64_t written_ GUARDED_BY(lock_) = 0;
  std::chrono::steady_clock::time_point retryAt_ GUARDED_BY(lock_);

  // The writer's own (the constructor's before the writer starts).
  std::optional<platform::TFileIdentity> identity_;  // of the base it opened
  bool followDue_ = true;
  bool down_ = false;

  std::thread writer_;  // last: it starts when everything else is in place
};

}  // namespace records
