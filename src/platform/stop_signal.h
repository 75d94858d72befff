// The orderly stop: SIGINT and SIGTERM ask the program to stop; a second signal
// ends the process at once. The handler only sets a flag and writes one byte to
// a pipe, so that waits on the pipe wake at once. On Windows the console's
// events do the same (Ctrl-C, Ctrl-Break, closing the window, logoff,
// shutdown), and the wake is a loopback UDP socket holding one datagram.
#pragma once

#include <string>

#include "platform/socket.h"

namespace platform {

// Installs the handlers. Main thread, once, before other threads start.
//
// Windows ends the process once the handler of a console close, logoff or
// shutdown returns (about 5 s after the event at the latest): that handler
// asks for the stop and then waits up to 4.5 s, so the orderly stop finishes
// while it waits. The process's end (main returning, or EndProcessNow) ends
// the wait; nothing has to be called for it.
void InstallStopHandlers();
// True once a stop was asked for. Thread safe.
bool StopRequested();
// What asked for the stop: "signal SIGTERM", "signal SIGINT", on Windows
// "console Ctrl-C", "console Ctrl-Break", "console close", "user logoff" or
// "system shutdown", or "stop requested" (from within the program). Thread safe.
std::string StopReason();
// Asks for a stop as a signal would (tests, and fatal start-up paths). Thread safe.
void RequestStop();
// Clears the request (tests that run several servers in one process).
void ResetStopForTesting();
// Sleeps for ms milliseconds, or less when a stop is asked for meanwhile;
// true when a stop was asked for. Uses no CPU while it waits.
bool WaitForStop(int ms);
// A descriptor that becomes readable once a stop is asked for, for waits that
// poll other descriptors too (on Windows a socket, for WSAPoll); -1 when there
// is none.
SocketHandle StopWakeFd();
// Ends the process at once with status, running no destructors: for a stop
// that must not destroy what a thread that did not end still uses. What was
// written stays: the logs are written unbuffered, and the console is flushed.
[[noreturn]] void EndProcessNow(int status);

}  // namespace platform
