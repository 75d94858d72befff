#include "registry/busy_flag.h"

// The flag is set on return; the capability stands for that, not for lock_.
void TBusyFlag::Acquire() NO_THREAD_SAFETY_ANALYSIS {
  TMutexLock lock(lock_);
  free_.wait(lock.Native(), [this]() REQUIRES(lock_) { return !busy_; });
  busy_ = true;
}

void TBusyFlag::Release() NO_THREAD_SAFETY_ANALYSIS {
  {
    TMutexLock guard(lock_);
    busy_ = false;
  }
  free_.notify_one();
}

bool TBusyFlag::IsBusy() const {
  TMutexLock guard(lock_);
  return busy_;
}
