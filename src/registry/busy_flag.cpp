#include "registry/busy_flag.h"

#include <condition_variable>
#include <mutex>

namespace {

// Guards busy; busyFree is signalled when it is cleared.
std::mutex busyLock;
std::condition_variable busyFree;
bool busy = false;

}  // namespace

void AcquireBusy() {
  std::unique_lock<std::mutex> lock(busyLock);
  busyFree.wait(lock, [] { return !busy; });
  busy = true;
}

void ReleaseBusy() {
  {
    std::lock_guard<std::mutex> guard(busyLock);
    busy = false;
  }
  busyFree.notify_one();
}

bool IsBusy() {
  std::lock_guard<std::mutex> guard(busyLock);
  return busy;
}
