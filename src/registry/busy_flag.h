// BusyFlag: lets one command handler, or the supervision cycle, work on the
// tables at a time. A waiting thread sleeps until the holder releases it.
#pragma once

#include "base/thread_annotations.h"

// The capability that stands for BusyFlag in lock annotations: functions
// whose caller must hold the flag are REQUIRES(BusyFlag). It holds no state;
// the flag itself lives in busy_flag.cpp.
class CAPABILITY("mutex") TBusyFlag {};
extern TBusyFlag BusyFlag;

// Waits until the flag is clear and sets it, as one step. Thread safe.
void AcquireBusy() ACQUIRE(BusyFlag);
// Clears the flag and wakes one waiter. On the thread that set it.
void ReleaseBusy() RELEASE(BusyFlag);
bool IsBusy();

// Holds BusyFlag for a scope; Release() lets it go early.
class SCOPED_CAPABILITY TBusyGuard {
 public:
  TBusyGuard() ACQUIRE(BusyFlag) { AcquireBusy(); }
  ~TBusyGuard() RELEASE() { Release(); }
  TBusyGuard(const TBusyGuard&) = delete;
  TBusyGuard& operator=(const TBusyGuard&) = delete;
  // Held only until the first call; the destructor then releases nothing.
  void Release() RELEASE() NO_THREAD_SAFETY_ANALYSIS {
    if (held_) {
      held_ = false;
      ReleaseBusy();
    }
  }

 private:
  bool held_ = true;
};
