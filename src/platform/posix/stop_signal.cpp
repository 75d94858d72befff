// SIGINT and SIGTERM ask for the stop; the wake is a pipe.
#include "platform/stop_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "platform/stop_system.h"

namespace platform {
namespace {

int wakePipe[2] = {-1, -1};
std::once_flag pipeOnce;

extern "C" void OnStopSignal(int signal) {
  if (!stop_system::MarkStopAsked(signal == SIGINT ? "signal SIGINT" : "signal SIGTERM")) _exit(130);
  int saved = errno;
  stop_system::Wake();
  errno = saved;
}

}  // namespace

namespace stop_system {

void MakeWake() {
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

void DrainWake() {
  char buffer[64];
  while (wakePipe[0] >= 0 && ::read(wakePipe[0], buffer, sizeof buffer) > 0) {
  }
}

void WaitForWake(int ms) {
  pollfd pfd{wakePipe[0], POLLIN, 0};
  ::poll(&pfd, wakePipe[0] >= 0 ? 1 : 0, ms);
}

}  // namespace stop_system

void InstallStopHandlers() {
  stop_system::MakeWake();
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

int StopWakeFd() {
  stop_system::MakeWake();
  return wakePipe[0];
}

}  // namespace platform
