#include "platform/stop_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>

namespace platform {
namespace {

// Set by the signal handler or RequestStop, read by every thread: atomic,
// since a signal handler may take no lock.
std::atomic<bool> stopRequested{false};
std::atomic<int> stopSignal{0};  // the signal that asked for the stop; 0 for none
int wakePipe[2] = {-1, -1};
std::once_flag pipeOnce;

void MakePipe() {
  std::call_once(pipeOnce, [] {
    if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) wakePipe[0] = wakePipe[1] = -1;
  });
}

void Wake() {
  if (wakePipe[1] >= 0) {
    char byte = 1;
    ssize_t ignored = ::write(wakePipe[1], &byte, 1);
    (void)ignored;
  }
}

extern "C" void OnStopSignal(int signal) {
  if (stopRequested.exchange(true)) _exit(130);
  stopSignal.store(signal);
  int saved = errno;
  Wake();
  errno = saved;
}

}  // namespace

void InstallStopHandlers() {
  MakePipe();
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() { return stopRequested.load(); }

std::string StopReason() {
  switch (stopSignal.load()) {
    case SIGINT:
      return "signal SIGINT";
    case SIGTERM:
      return "signal SIGTERM";
    default:
      return "stop requested";
  }
}

void RequestStop() {
  MakePipe();
  stopRequested.store(true);
  Wake();
}

void ResetStopForTesting() {
  MakePipe();
  stopRequested.store(false);
  stopSignal.store(0);
  char buffer[64];
  while (wakePipe[0] >= 0 && ::read(wakePipe[0], buffer, sizeof buffer) > 0) {
  }
}

int StopWakeFd() {
  MakePipe();
  return wakePipe[0];
}

bool WaitForStop(int ms) {
  MakePipe();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!stopRequested.load()) {
    // Rounded up: a remainder under a millisecond is still waited for, so a
    // wait of 1 ms is never a wait of none (the main loop would spin).
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    // The pipe only wakes the wait; the flag is the truth, and the byte stays
    // in the pipe so that every waiter wakes.
    pollfd pfd{wakePipe[0], POLLIN, 0};
    ::poll(&pfd, wakePipe[0] >= 0 ? 1 : 0, static_cast<int>(left.count()));
  }
  return true;
}

void EndProcessNow(int status) {
  std::fflush(nullptr);
  _exit(status);
}

}  // namespace platform
