#include "records/recorded_file_store.h"

#include "log/logs.h"
#include "platform/clock_text.h"
#include "records/file_records.h"

namespace records {

TRecordedFileStore::TRecordedFileStore(std::string path) : path_(std::move(path)) { OpenIfClosed(); }

std::shared_ptr<TRecordBase> TRecordedFileStore::Base(std::string* error) {
  TMutexLock guard(lock_);
  if (!base_ && error) *error = "the ban records are not available (" + openError_ + ")";
  return base_;
}

void TRecordedFileStore::OpenIfClosed() {
  std::string wasError;
  {
    TMutexLock guard(lock_);
    if (base_) return;
    wasError = openError_;
  }
  auto base = std::make_shared<TRecordBase>();
  std::string error;
  int added = 0;
  if (!base->Open(path_, &error) || !FollowBanFile(*base, platform::UnixSeconds(), &added, nullptr, &error)) {
    {
      TMutexLock guard(lock_);
      openError_ = error;
    }
    if (wasError.empty()) {
      WriteEvent("Ban records: cannot open " + path_ + " (" + error +
                 "); bans are enforced all the same, their records wait in memory, and it is tried again every "
                 "minute");
    }
    return;
  }
  if (added > 0) WriteEvent("Ban records: " + std::to_string(added) + " bans of zelk_bans.txt recorded as imported");
  if (!wasError.empty()) WriteEvent("Ban records: " + path_ + " is open again");
  TMutexLock guard(lock_);
  base_ = std::move(base);
  openError_.clear();
}

void TRecordedFileStore::WriteWaiting() {
  TMutexLock writing(writeLock_);
  std::vector<TBanRecord> batch;
  std::shared_ptr<TRecordBase> base;
  {
    TMutexLock guard(lock_);
    if (!base_ || waiting_.empty()) return;
    batch = waiting_;
    base = base_;
  }
  std::string error;
  const bool written = base->AddAll(batch, &error);
  std::string line;
  {
    TMutexLock guard(lock_);
    if (written) {
      // Only this writer takes from the front, so the batch is still there.
      waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(batch.size()));
      if (writeFailing_) line = "Ban records: the records that waited are written to " + path_;
      writeFailing_ = false;
    } else if (!writeFailing_) {
      writeFailing_ = true;
      line = "Ban records: cannot write to " + path_ + " (" + error + "); " + std::to_string(waiting_.size()) +
             " records wait in memory and are tried again every minute";
    }
  }
  if (!line.empty()) WriteEvent(line);
}

BanLookup TRecordedFileStore::Lookup(const std::string& identifier, std::string* left) {
  return file_.Lookup(identifier, left);
}

bool TRecordedFileStore::Record(const TBanRecord& ban) {
  if (!file_.Record(ban)) return false;
  {
    TMutexLock guard(lock_);
    waiting_.push_back(ban);
  }
  WriteWaiting();
  return true;
}

void TRecordedFileStore::Maintain() {
  file_.Maintain();
  OpenIfClosed();
  WriteWaiting();
  std::shared_ptr<TRecordBase> base;
  {
    TMutexLock guard(lock_);
    // A record still waiting must not be taken for a ban without one.
    if (!waiting_.empty()) return;
    base = base_;
  }
  std::string error;
  if (base && !FollowBanFile(*base, platform::UnixSeconds(), nullptr, nullptr, &error)) {
    WriteLog("Ban records: cannot bring " + path_ + " in line with zelk_bans.txt (" + error + ")");
  }
}

LiftResult TRecordedFileStore::Lift(const std::string& identifier, const TBanLift& lift) {
  // Records still waiting are written first, so that the lift ends them too.
  WriteWaiting();
  const LiftResult result = file_.Lift(identifier, lift);
  if (!result.Error.empty() || result.Removed == 0) return result;
  std::string error;
  std::shared_ptr<TRecordBase> base = Base(&error);
  if (!base || !base->Lift(identifier, lift, platform::UnixSeconds(), &error)) {
    WriteLog("Ban records: the lift of ID " + identifier + " is not recorded (" + error +
             "); its record ends as expired once the base can be written");
  }
  return result;
}

bool TRecordedFileStore::List(std::vector<TBanView>& bans, std::string* error) { return file_.List(bans, error); }

bool TRecordedFileStore::Search(const TBanQuery& query, TBanPage& page, std::string* error) {
  std::shared_ptr<TRecordBase> base = Base(error);
  if (!base) return false;
  std::optional<TBanPage> found = base->Search(query, error);
  if (found) page = std::move(*found);
  return found.has_value();
}

std::optional<TBanRecord> TRecordedFileStore::Get(int64_t id, std::string* error) {
  std::shared_ptr<TRecordBase> base = Base(error);
  return base ? base->Get(id, error) : std::nullopt;
}

bool TRecordedFileStore::History(const std::string& identifier, std::vector<TBanRecord>& records,
                                 std::string* error) {
  std::shared_ptr<TRecordBase> base = Base(error);
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
  std::shared_ptr<TRecordBase> base = Base(error);
  if (!base) return false;
  std::optional<std::map<std::string, int64_t>> found = base->CountByIdentifier(identifiers, error);
  if (found) counts = std::move(*found);
  return found.has_value();
}

bool TRecordedFileStore::EvidencePaths(std::set<std::string>& paths, std::string* error) {
  paths.clear();
  {
    TMutexLock guard(lock_);
    for (const TBanRecord& waiting : waiting_) paths.insert(waiting.Evidence.begin(), waiting.Evidence.end());
  }
  std::shared_ptr<TRecordBase> base = Base(error);
  if (!base) return false;
  std::optional<std::set<std::string>> found = base->EvidencePaths(error);
  if (found) paths.insert(found->begin(), found->end());
  return found.has_value();
}

size_t TRecordedFileStore::Waiting() {
  TMutexLock guard(lock_);
  return waiting_.size();
}

}  // namespace records
