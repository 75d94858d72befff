#include "registry/busy_flag.h"

#include <condition_variable>

#include "base/mutex.h"

namespace {

// Guards busy; busyFree is signalled when it is cleared.
TMutex busyLock;
std::condition_variable busyFree;
bool busy GUARDED_BY(busyLock) = false;

}  // namespace

TBusyFlag BusyFlag;

// The flag is set on return; the capability stands for that, not for busyLock.
void AcquireBusy() NO_THREAD_SAFETY_ANALYSIS {
  TMutexLock lock(busyLock);
  busyFree.wait(lock.Native(), []() REQUIRES(busyLock) { return !busy; });
  busy = true;
}

void ReleaseBusy() NO_THREAD_SAFETY_ANALYSIS {
  {
    TMutexLock guard(busyLock);
    busy = false;
  }
  busyFree.notify_one();
}

bool IsBusy() {
  TMutexLock guard(busyLock);
  return busy;
}
