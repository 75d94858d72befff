// Writes the audit trail on a thread of its own, so that a ban or a lift is
// answered at once however slow the store is (a base another process holds
// locked waits each write out for a second). Lines wait in memory, in order,
// until the store takes them; a failed write is tried again every
// kAuditRetry. At most kAuditQueued lines wait: past that the oldest is
// dropped, and said in the full log. Lines still waiting when the program
// stops are lost, and said so.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <thread>

#include "accounts/account_store.h"
#include "platform/mutex.h"

inline constexpr auto kAuditRetry = std::chrono::seconds(5);
inline constexpr size_t kAuditQueued = 10000;

class TAuditWriter {
 public:
  // store must outlive the writer.
  explicit TAuditWriter(TAccountStore& store);
  // One last try at what waits, then the thread ends.
  ~TAuditWriter();
  TAuditWriter(const TAuditWriter&) = delete;
  TAuditWriter& operator=(const TAuditWriter&) = delete;

  // Queues one line (At 0 becomes now); never waits for the store. Thread safe.
  void Post(TAuditEntry entry);
  // Waits, at most wait, until nothing waits any more; true then (tests).
  bool WaitWritten(std::chrono::milliseconds wait);

 private:
  void Work();

  TAccountStore& store_;
  TMutex lock_;  // guards queue_, stopping_, dropped_ and busy_; the thread waits on wake_
  std::deque<TAuditEntry> queue_ GUARDED_BY(lock_);
  bool stopping_ GUARDED_BY(lock_) = false;
  bool dropped_ GUARDED_BY(lock_) = false;  // lines were dropped since the log last said so
  bool busy_ GUARDED_BY(lock_) = false;     // the thread writes lines taken from the queue
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::thread thread_;
};
