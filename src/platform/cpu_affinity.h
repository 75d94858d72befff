// Keeping threads on one CPU, for benchmarks whose figures would otherwise
// depend on where the scheduler happens to place a client and its server
// thread (on a virtual machine, waking an idle CPU costs tens of microseconds).
#pragma once

#include <string>

namespace platform {

// Pins the calling thread to the given CPU; on Linux the threads it starts
// afterwards inherit the pin (on Windows they start with the process's CPUs).
// False with the failing call named in error.
bool PinThreadToCpu(int cpu, std::string* error);

}  // namespace platform
