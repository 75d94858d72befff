// BusyFlag: lets one command handler, or the supervision cycle, work on the
// client and player tables at a time. A waiting thread sleeps on a condition
// variable. The flag is a member of the tables (tables.h), which the server
// object owns; it is taken through a TBusyGuard.
#pragma once

#include <condition_variable>

#include "base/mutex.h"
#include "base/thread_annotations.h"

// The capability that stands for BusyFlag in lock annotations.
class CAPABILITY("mutex") TBusyFlag {
 public:
  TBusyFlag() = default;
  TBusyFlag(const TBusyFlag&) = delete;
  TBusyFlag& operator=(const TBusyFlag&) = delete;

  // Waits until the flag is clear and sets it, as one step. Thread safe.
  void Acquire() ACQUIRE();
  // Clears the flag and wakes one waiter. Thread safe.
  void Release() RELEASE();
  bool IsBusy() const;

 private:
  // Guards busy_; free_ is signalled when it is cleared.
  mutable TMutex lock_;
  std::condition_variable free_;
  bool busy_ GUARDED_BY(lock_) = false;
};
