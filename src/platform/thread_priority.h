// Background threads whose work can wait (notifications to a chat service)
// run at a lower priority than the threads that answer the clients, so that
// on a busy machine the scheduler gives the clients' replies the CPU first.
#pragma once

namespace platform {

// Lowers the calling thread's scheduling priority (nice 10 on Linux, below
// normal on Windows; no privilege is needed to lower it). False when the
// system refused; the thread then runs as before.
bool LowerThisThreadPriority();

}  // namespace platform
