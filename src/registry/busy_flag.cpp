#include "registry/busy_flag.h"

#include <atomic>

#include "base/mutex.h"

namespace {

// The flag is this mutex: every holder takes and gives it back on one thread
// (TBusyGuard is a scoped guard), so a plain mutex is all it needs. Taken
// without contention, it costs an atomic exchange and no system call; a waiter
// sleeps in the kernel and is woken by the release that lets it in, with no
// condition variable in between to wake first and then take a second lock.
TMutex busyLock;
// Set while busyLock is held, for IsBusy, which must not take the lock.
std::atomic<bool> busy{false};

}  // namespace

TBusyFlag BusyFlag;

// The flag is set on return; the capability stands for that, not for busyLock.
void AcquireBusy() NO_THREAD_SAFETY_ANALYSIS {
  busyLock.Lock();
  busy.store(true, std::memory_order_relaxed);
}

void ReleaseBusy() NO_THREAD_SAFETY_ANALYSIS {
  busy.store(false, std::memory_order_relaxed);
  busyLock.Unlock();
}

bool IsBusy() { return busy.load(std::memory_order_relaxed); }
