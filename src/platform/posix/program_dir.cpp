// Where the program file lies, from /proc/self/exe.
#include "platform/program_dir.h"

#include <unistd.h>

namespace platform {

std::string ProgramFileDirectory() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "./";
  std::string path(buffer, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

}  // namespace platform
