#include "accounts/audit_writer.h"

#include "log/logs.h"
#include "platform/clock_text.h"

TAuditWriter::TAuditWriter(TAccountStore& store) : store_(store), thread_([this] { Work(); }) {}

TAuditWriter::~TAuditWriter() {
  {
    TMutexLock guard(lock_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void TAuditWriter::Post(TAuditEntry entry) {
  if (entry.At == 0) entry.At = platform::UnixSeconds();
  {
    TMutexLock guard(lock_);
    if (queue_.size() >= kAuditQueued) {
      queue_.pop_front();
      dropped_ = true;
    }
    queue_.push_back(std::move(entry));
  }
  wake_.notify_one();
}

bool TAuditWriter::WaitWritten(std::chrono::milliseconds wait) {
  TMutexLock guard(lock_);
  return idle_.wait_for(guard.Native(), wait, [this]() REQUIRES(lock_) { return queue_.empty() && !busy_; });
}

void TAuditWriter::Work() {
  bool failing = false;  // said once as the store stops taking lines, once as it takes them again
  TMutexLock guard(lock_);
  for (;;) {
    wake_.wait(guard.Native(), [this]() REQUIRES(lock_) { return stopping_ || !queue_.empty(); });
    const bool last = stopping_;
    const bool dropped = dropped_;
    dropped_ = false;
    busy_ = true;
    std::deque<TAuditEntry> taken;
    taken.swap(queue_);
    guard.Unlock();
    if (dropped) WriteLog("Audit: lines were dropped: " + std::to_string(kAuditQueued) + " waited for the base");
    std::string error;
    size_t written = 0;
    while (written < taken.size() && store_.Audit(taken[written], &error)) ++written;
    if (written < taken.size() && !failing) {
      WriteLog("Audit: the trail cannot be written (" + error + "); its lines wait and are tried again");
    } else if (written == taken.size() && failing) {
      WriteLog("Audit: the trail is written again");
    }
    failing = written < taken.size();
    if (failing && last) {
      const std::string lost = std::to_string(taken.size() - written);
      WriteLog("Audit: " + lost + " lines not written at the stop: " + error);
    }
    guard.Lock();
    busy_ = false;
    // What failed goes back in front, in its order, before what came since.
    queue_.insert(queue_.begin(), taken.begin() + static_cast<ptrdiff_t>(written), taken.end());
    while (queue_.size() > kAuditQueued) queue_.pop_front();
    if (last) return;
    if (queue_.empty()) {
      idle_.notify_all();
      continue;
    }
    // The store refused: try again after a while (or at the stop).
    wake_.wait_for(guard.Native(), kAuditRetry, [this]() REQUIRES(lock_) { return stopping_; });
  }
}
