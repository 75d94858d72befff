#include "platform/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

bool LowerThisThreadPriority() {
  // On Linux a thread's nice value is its own: setpriority with its thread id
  // changes this thread alone.
  const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
  return ::setpriority(PRIO_PROCESS, thread, 10) == 0;
}

}  // namespace platform
