// BusyFlag: lets one command handler, or the supervision cycle, work on the
// client and player tables at a time. A waiting thread sleeps until the holder
// releases it. The flag is a member of the tables (tables.h), which the server
// object owns; it is taken through a TBusyGuard.
#pragma once

#include <atomic>

#include "platform/mutex.h"
#include "platform/thread_annotations.h"

// The capability that stands for BusyFlag in lock annotations.
class CAPABILITY("mutex") TBusyFlag {
 public:
  TBusyFlag() = default;
  TBusyFlag(const TBusyFlag&) = delete;
  TBusyFlag& operator=(const TBusyFlag&) = delete;

  // Waits until the flag is clear and sets it, as one step. Thread safe.
  void Acquire() ACQUIRE();
  // Clears the flag and wakes one waiter. On the thread that set it.
  void Release() RELEASE();
  bool IsBusy() const;

 private:
  // The flag is this mutex: every holder takes and gives it back on one
  // thread (TBusyGuard is a scoped guard), so a plain mutex is all it needs.
  // Taken without contention, it costs an atomic exchange and no system call;
  // a waiter sleeps in the kernel and is woken by the release that lets it
  // in, with no condition variable in between to wake first and then take a
  // second lock.
  TMutex lock_;
  // Set while lock_ is held, for IsBusy, which must not take the lock.
  std::atomic<bool> busy_{false};
};
