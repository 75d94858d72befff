// Inside platform only: what each system's stop_signal.cpp (posix/ or
// windows/) gives the shared stop_signal.cpp, and what the shared part gives
// the system's handlers.
#pragma once

namespace platform::stop_system {

// Marks the stop as asked for, by cause (a literal, "signal SIGTERM"); false
// when one was asked for already. Takes no lock: safe in a signal handler.
bool MarkStopAsked(const char* cause);

// The wake (a pipe on POSIX, a loopback UDP socket on Windows): made once on
// first use, thread safe.
void MakeWake();
// Makes the wake readable until DrainWake. Safe in a signal handler.
void Wake();
// Empties the wake (tests that run several stops in one process).
void DrainWake();
// Waits at most ms for the wake to be readable, using no CPU meanwhile.
void WaitForWake(int ms);

}  // namespace platform::stop_system
