// The console's control events ask for the stop; the wake is a loopback UDP
// socket (winsock.h), so that a WSAPoll on other sockets can wait on it too.
// The handler runs on a thread of its own that Windows starts for the event.
#include "platform/stop_signal.h"

#include "platform/stop_system.h"
#include "platform/windows/winsock.h"

#include <windows.h>

#include <cstdlib>
#include <mutex>

namespace platform {
namespace {

std::once_flag wakeOnce;
SocketHandle wake = -1;  // written once, under wakeOnce; never closed

// Windows ends the process about 5 s after a console close, and at a logoff
// or shutdown, once the handler returns: the handler waits this long for the
// orderly stop, unless the process ends first.
constexpr DWORD kEndingWaitMs = 4500;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  const char* cause = nullptr;
  switch (event) {
    case CTRL_C_EVENT:
      cause = "console Ctrl-C";
      break;
    case CTRL_BREAK_EVENT:
      cause = "console Ctrl-Break";
      break;
    case CTRL_CLOSE_EVENT:
      cause = "console close";
      break;
    case CTRL_LOGOFF_EVENT: {
      // Only a process in session 0 (a service's) sees another user's logoff,
      // and it is not the end of that process.
      DWORD session = 0;
      if (::ProcessIdToSessionId(::GetCurrentProcessId(), &session) && session == 0) return TRUE;
      cause = "user logoff";
      break;
    }
    case CTRL_SHUTDOWN_EVENT:
      cause = "system shutdown";
      break;
    default:
      return FALSE;
  }
  if (!stop_system::MarkStopAsked(cause)) std::_Exit(130);
  stop_system::Wake();
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    ::Sleep(kEndingWaitMs);
  }
  return TRUE;
}

}  // namespace

namespace stop_system {

void MakeWake() {
  std::call_once(wakeOnce, [] { wake = winsock::NewWake(); });
}

void Wake() { winsock::SignalWake(wake); }

void DrainWake() { winsock::DrainWake(wake); }

void WaitForWake(int ms) {
  if (wake < 0) {
    ::Sleep(static_cast<DWORD>(ms));
    return;
  }
  WSAPOLLFD pfd{static_cast<SOCKET>(wake), POLLRDNORM, 0};
  ::WSAPoll(&pfd, 1, ms);
}

}  // namespace stop_system

void InstallStopHandlers() {
  stop_system::MakeWake();
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

SocketHandle StopWakeFd() {
  stop_system::MakeWake();
  return wake;
}

}  // namespace platform
