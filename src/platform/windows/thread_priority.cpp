#include "platform/thread_priority.h"

#include "platform/windows/windows_api.h"

namespace platform {

bool LowerThisThreadPriority() {
  return ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL) != 0;
}

}  // namespace platform
