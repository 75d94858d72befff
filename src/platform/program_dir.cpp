#include "platform/program_dir.h"

#include <unistd.h>

#include "platform/mutex.h"

#include "platform/environment.h"

namespace platform {
namespace {

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

// Guards dataDir.
TMutex dataDirLock;
std::string dataDir GUARDED_BY(dataDirLock);

}  // namespace

std::string ProgramFileDirectory() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "./";
  std::string path(buffer, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

std::string DataDirectory() {
  TMutexLock guard(dataDirLock);
  if (dataDir.empty()) {
    auto home = EnvironmentValue("ACSERVER_HOME");
    dataDir = home ? WithSlash(*home) : ProgramFileDirectory();
  }
  return dataDir;
}

void SetDataDirectory(const std::string& directory) {
  TMutexLock guard(dataDirLock);
  dataDir = WithSlash(directory);
}

}  // namespace platform
