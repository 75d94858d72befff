// The processor time the calling thread has used: what a measurement counts
// when the machine is shared and the wall clock also counts the waits for a
// processor.
#pragma once

#include <cstdint>

namespace platform {

// Nanoseconds of processor time used by the calling thread so far; 0 when the
// system cannot tell. Thread safe.
int64_t ThreadCpuNanoseconds();

}  // namespace platform
