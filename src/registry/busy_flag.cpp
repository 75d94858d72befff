#include "registry/busy_flag.h"

// The flag is set on return; the capability stands for that, not for lock_.
void TBusyFlag::Acquire() NO_THREAD_SAFETY_ANALYSIS {
  lock_.Lock();
  busy_.store(true, std::memory_order_relaxed);
}

void TBusyFlag::Release() NO_THREAD_SAFETY_ANALYSIS {
  busy_.store(false, std::memory_order_relaxed);
  lock_.Unlock();
}

bool TBusyFlag::IsBusy() const { return busy_.load(std::memory_order_relaxed); }
