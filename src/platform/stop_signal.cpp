// The stop flag and the waits on it, the same on every system. The handlers
// and the wake are in posix/stop_signal.cpp and windows/stop_signal.cpp.
#include "platform/stop_signal.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/stop_system.h"

namespace platform {
namespace {

// Set by a handler or RequestStop, read by every thread: atomic, since a
// signal handler may take no lock.
std::atomic<bool> stopRequested{false};
std::atomic<const char*> stopCause{nullptr};  // what asked for the stop; nullptr: the program itself

}  // namespace

namespace stop_system {

bool MarkStopAsked(const char* cause) {
  if (stopRequested.exchange(true)) return false;
  stopCause.store(cause);
  return true;
}

}  // namespace stop_system

bool StopRequested() { return stopRequested.load(); }

std::string StopReason() {
  const char* cause = stopCause.load();
  return cause != nullptr ? cause : "stop requested";
}

void RequestStop() {
  stop_system::MakeWake();
  stopRequested.store(true);
  stop_system::Wake();
}

void ResetStopForTesting() {
  stop_system::MakeWake();
  stopRequested.store(false);
  stopCause.store(nullptr);
  stop_system::DrainWake();
}

bool WaitForStop(int ms) {
  stop_system::MakeWake();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!stopRequested.load()) {
    // Rounded up: a remainder under a millisecond is still waited for, so a
    // wait of 1 ms is never a wait of none (the main loop would spin).
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    // The wake only ends the wait; the flag is the truth, and the wake stays
    // readable so that every waiter wakes.
    stop_system::WaitForWake(static_cast<int>(left.count()));
  }
  return true;
}

void EndProcessNow(int status) {
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace platform
