#include "bans/records/recorded_file_store.h"

#include <utility>

#include "bans/ban_base.h"
#include "log/logs.h"
#include "platform/clock_text.h"
#include "bans/records/file_records.h"

namespace records {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

TRecordedFileStore::TRecordedFileStore(std::string path, int busyTimeoutMs)
    : path_(std::move(path)), busyTimeoutMs_(busyTimeoutMs) {
  // The first round here, so that the records are open (and the file's bans
  // imported) before the first client or web request.
  RunPass();
  writer_ = std::thread([this] { Work(); });
}

TRecordedFileStore::~TRecordedFileStore() {
  {
    TMutexLock guard(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  writer_.join();
}

std::shared_ptr<TRecordBase> TRecordedFileStore::Base(std::string* error) {
  TMutexLock guard(lock_);
  if (!base_ && error) *error = "the ban records are not available (" + health_.Reason + ")";
  return base_;
}

std::shared_ptr<TRecordBase> TRecordedFileStore::BaseForRead(std::string* error) {
  {
    const Clock::time_point until = Clock::now() + kReadQueueWait;
    TMutexLock guard(lock_);
    const uint64_t wanted = queued_;
    while (health_.Up && written_ < wanted && Clock::now() < until) idle_.wait_until(guard.Native(), until);
  }
  return Base(error);
}

void TRecordedFileStore::Work() {
  while (RunPass()) {
  }
}

bool TRecordedFileStore::RunPass() {
  TMutexLock guard(lock_);
  // Asleep until there is something to do: a check, a stop, or orders whose
  // next try has come.
  while (!stop_ && !checkDue_ && (orders_.empty() || Clock::now() < retryAt_)) {
    if (orders_.empty()) {
      wake_.wait(guard.Native());
    } else {
      wake_.wait_until(guard.Native(), retryAt_);
    }
  }
  const bool stopping = stop_;
  const bool check = std::exchange(checkDue_, false);
  const std::vector<TOrder> orders(orders_.begin(), orders_.end());
  passing_ = true;
  guard.Unlock();

  std::string error;
  const size_t done = WriteOrders(orders, check, &error);
  if (error.empty()) {
    SayWorking();
  } else {
    SayFault(error);
  }

  guard.Lock();
  orders_.erase(orders_.begin(), orders_.begin() + static_cast<std::ptrdiff_t>(done));
  written_ += done;
  passing_ = false;
  retryAt_ = error.empty() ? Clock::time_point() : Clock::now() + kWriterRetry;
  health_ = error.empty() ? TRecordsHealth{} : TRecordsHealth{false, error};
  const size_t lost = orders_.size();
  idle_.notify_all();
  if (!stopping) return true;
  guard.Unlock();
  if (lost > 0) {
    WriteEvent("Ban records: " + std::to_string(lost) + " records could not be written to " + path_ +
               " before the stop; their bans stay in zelk_bans.txt and are recorded as imported at the next start");
  }
  return false;
}

size_t TRecordedFileStore::WriteOrders(const std::vector<TOrder>& orders, bool check, std::string* error) {
  std::shared_ptr<TRecordBase> base = Base(nullptr);
  // Which file the name holds is checked before every write too (one stat):
  // a record must not go to a file that was deleted or replaced meanwhile.
  if (base && (check || !orders.empty())) {
    const std::optional<platform::TFileIdentity> identity = platform::FileIdentity(path_);
    if (!identity || identity != identity_) {
      WriteEvent("Ban records: " + path_ + " was deleted or replaced; it is made again from zelk_bans.txt and the "
                 "records waiting");
      {
        TMutexLock guard(lock_);
        base_.reset();
      }
      base->Close();
      base.reset();
    } else if (check && !base->Check(error)) {
      return 0;
    }
  }
  if (!base) {
    auto opened = std::make_shared<TRecordBase>();
    if (!opened->Open(path_, error, busyTimeoutMs_)) return 0;
    identity_ = platform::FileIdentity(path_);
    followDue_ = true;
    base = opened;
    TMutexLock guard(lock_);
    base_ = std::move(opened);
  }

  size_t done = 0;
  while (done < orders.size()) {
    if (const auto* lift = std::get_if<TLiftOrder>(&orders[done])) {
      if (!base->Lift(lift->Identifier, lift->Lift, lift->At, error)) return done;
      ++done;
      continue;
    }
    // A run of records is written as one step.
    std::vector<TBanRecord> records;
    size_t end = done;
    for (; end < orders.size() && std::holds_alternative<TBanRecord>(orders[end]); ++end) {
      records.push_back(std::get<TBanRecord>(orders[end]));
    }
    if (!base->AddAll(records, error)) return done;
    done = end;
  }

  if ((followDue_ || check) && !FollowFile(*base, done, error)) return done;
  return done;
}

bool TRecordedFileStore::FollowFile(TRecordBase& base, size_t done, std::string* error) {
  std::vector<std::string> lines;
  {
    TMutexLock order(fileOrder_);
    {
      TMutexLock guard(lock_);
      // A ban whose record is still queued would be taken for one without:
      // the next round follows the file instead.
      if (orders_.size() > done) {
        followDue_ = true;
        return true;
      }
    }
    if (!ReadBanBaseLines(lines, error)) return false;
  }
  int added = 0;
  std::vector<std::string> notTaken;
  if (!FollowBanLines(base, lines, platform::UnixSeconds(), &added, nullptr, error, &notTaken)) return false;
  followDue_ = false;
  for (const std::string& line : notTaken) WriteLog("Ban records: not a record, left out: " + line);
  if (added > 0) WriteEvent("Ban records: " + std::to_string(added) + " bans of zelk_bans.txt recorded as imported");
  return true;
}

void TRecordedFileStore::SayFault(const std::string& reason) {
  if (down_) return;
  down_ = true;
  WriteEvent("Ban records: " + path_ + " does not work (" + reason +
             "); bans are enforced all the same, their records wait in memory and are written once it works "
             "again (tried every 10 seconds while records wait, else every minute)");
}

void TRecordedFileStore::SayWorking() {
  if (!down_) return;
  down_ = false;
  WriteEvent("Ban records: " + path_ + " works again; the records that waited are written");
}

BanLookup TRecordedFileStore::Lookup(const std::string& identifier, std::string* left) {
  return file_.Lookup(identifier, left);
}

BanLookup TRecordedFileStore::LookupAll(const std::set<std::string>& identifiers,
                                        std::map<std::string, std::string>& banned) {
  return file_.LookupAll(identifiers, banned);
}

bool TRecordedFileStore::Record(const TBanRecord& ban) {
  TMutexLock order(fileOrder_);
  {
    TMutexLock guard(lock_);
    orders_.push_back(ban);
    ++queued_;
  }
  wake_.notify_one();
  // A ban the file could not take is enforced from the file base's memory
  // and written to the file later: its record stays queued all the same.
  return file_.Record(ban);
}

void TRecordedFileStore::Maintain() {
  file_.Maintain();
  {
    TMutexLock guard(lock_);
    checkDue_ = true;
  }
  wake_.notify_one();
}

LiftResult TRecordedFileStore::Lift(const std::string& identifier, const TBanLift& lift) {
  TMutexLock order(fileOrder_);
  const LiftResult result = file_.Lift(identifier, lift);
  if (!result.Error.empty() || result.Removed == 0) return result;
  {
    TMutexLock guard(lock_);
    // After the identifier's queued records, so that it ends them too.
    orders_.push_back(TLiftOrder{identifier, lift, platform::UnixSeconds()});
    ++queued_;
  }
  wake_.notify_one();
  return result;
}

bool TRecordedFileStore::List(std::vector<TBanView>& bans, std::string* error) { return file_.List(bans, error); }

bool TRecordedFileStore::Search(const TBanQuery& query, TBanPage& page, std::string* error) {
  std::shared_ptr<TRecordBase> base = BaseForRead(error);
  if (!base) return false;
  std::optional<TBanPage> found = base->Search(query, error);
  if (found) page = std::move(*found);
  return found.has_value();
}

std::optional<TBanRecord> TRecordedFileStore::Get(int64_t id, std::string* error) {
  std::shared_ptr<TRecordBase> base = BaseForRead(error);
  return base ? base->Get(id, error) : std::nullopt;
}

bool TRecordedFileStore::History(const std::string& identifier, std::vector<TBanRecord>& records,
                                 std::string* error) {
  std::shared_ptr<TRecordBase> base = BaseForRead(error);
  if (!base) return false;
  std::optional<std::vector<TBanRecord>> found = base->History(identifier, error);
  if (found) records = std::move(*found);
  return found.has_value();
}

bool TRecordedFileStore::HistoryPage(const std::string& identifier, int64_t exceptId, int page, int perPage,
                                     TBanPage& out, std::string* error) {
  std::shared_ptr<TRecordBase> base = Base(error);
  if (!base) return false;
  std::optional<TBanPage> found = base->HistoryPage(identifier, exceptId, page, perPage, error);
  if (found) out = std::move(*found);
  return found.has_value();
}

bool TRecordedFileStore::CountBans(const std::vector<std::string>& identifiers,
                                   std::map<std::string, int64_t>& counts, std::string* error) {
  std::shared_ptr<TRecordBase> base = BaseForRead(error);
  if (!base) return false;
  std::optional<std::map<std::string, int64_t>> found = base->CountByIdentifier(identifiers, error);
  if (found) counts = std::move(*found);
  return found.has_value();
}

bool TRecordedFileStore::EvidencePaths(std::set<std::string>& paths, std::string* error) {
  paths.clear();
  {
    TMutexLock guard(lock_);
    for (const TOrder& order : orders_) {
      if (const auto* record = std::get_if<TBanRecord>(&order)) {
        paths.insert(record->Evidence.begin(), record->Evidence.end());
      }
    }
  }
  std::shared_ptr<TRecordBase> base = Base(error);
  if (!base) return false;
  std::optional<std::set<std::string>> found = base->EvidencePaths(error);
  if (found) paths.insert(found->begin(), found->end());
  return found.has_value();
}

TRecordsHealth TRecordedFileStore::RecordsHealth() {
  TMutexLock guard(lock_);
  return health_;
}

size_t TRecordedFileStore::Waiting() {
  TMutexLock guard(lock_);
  return orders_.size();
}

bool TRecordedFileStore::WaitWritten(std::chrono::milliseconds wait) {
  const Clock::time_point until = Clock::now() + wait;
  TMutexLock guard(lock_);
  retryAt_ = Clock::time_point();
  checkDue_ = true;
  wake_.notify_one();
  // Done when the writer has taken the check and finished its round.
  while ((checkDue_ || passing_) && Clock::now() < until) idle_.wait_until(guard.Native(), until);
  return orders_.empty() && !checkDue_ && !passing_;
}

}  // namespace records
