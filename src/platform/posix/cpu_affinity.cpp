#include "platform/cpu_affinity.h"

#include <sched.h>

#include <cerrno>
#include <cstring>

namespace platform {

bool PinThreadToCpu(int cpu, std::string* error) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  if (sched_setaffinity(0, sizeof set, &set) == 0) return true;
  if (error) *error = "sched_setaffinity cpu " + std::to_string(cpu) + ": " + std::strerror(errno);
  return false;
}

}  // namespace platform
