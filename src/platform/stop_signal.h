// The orderly stop: SIGINT and SIGTERM ask the program to stop; a second signal
// ends the process at once. The handler only sets a flag and writes one byte to
// a pipe, so that waits on the pipe wake at once.
#pragma once

#include <string>

namespace platform {

// Installs the handlers. Main thread, once, before other threads start.
void InstallStopHandlers();
// True once a stop was asked for. Thread safe.
bool StopRequested();
// What asked for the stop: "signal SIGTERM", "signal SIGINT", or "stop
// requested" (from within the program). Thread safe.
std::string StopReason();
// Asks for a stop as a signal would (tests, and fatal start-up paths). Thread safe.
void RequestStop();
// Clears the request (tests that run several servers in one process).
void ResetStopForTesting();
// Sleeps for ms milliseconds, or less when a stop is asked for meanwhile;
// true when a stop was asked for. Uses no CPU while it waits.
bool WaitForStop(int ms);
// A descriptor that becomes readable once a stop is asked for, for waits that
// poll other descriptors too; -1 when there is none.
int StopWakeFd();
// Ends the process at once with status, running no destructors: for a stop
// that must not destroy what a thread that did not end still uses. What was
// written stays: the logs are written unbuffered, and the console is flushed.
[[noreturn]] void EndProcessNow(int status);

}  // namespace platform
