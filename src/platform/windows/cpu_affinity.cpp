#include "platform/cpu_affinity.h"

#include "platform/windows/error_text.h"
#include "platform/windows/windows_api.h"

namespace platform {

bool PinThreadToCpu(int cpu, std::string* error) {
  if (cpu >= 0 && cpu < 64 && ::SetThreadAffinityMask(::GetCurrentThread(), DWORD_PTR{1} << cpu) != 0) return true;
  if (error) {
    *error = "SetThreadAffinityMask cpu " + std::to_string(cpu) + ": " +
             (cpu >= 0 && cpu < 64 ? LastErrorText() : std::string("no such processor"));
  }
  return false;
}

}  // namespace platform
