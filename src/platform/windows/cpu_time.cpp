#include "platform/cpu_time.h"

#include "platform/windows/windows_api.h"

namespace platform {

int64_t ThreadCpuNanoseconds() {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
  auto count = [](const FILETIME& time) {
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  };
  return (count(kernel) + count(user)) * 100;  // FILETIME counts 100 ns steps
}

}  // namespace platform
