// The data directory, the same on every system but for the separator it ends in.
#include "platform/program_dir.h"

#include <string_view>

#include "platform/environment.h"
#include "platform/mutex.h"

namespace platform {
namespace {

// What may end the directory's name, and what is added when nothing does:
// Windows takes both separators, and the texts the admin reads show its own.
#ifdef _WIN32
constexpr std::string_view kSeparators = "/\\";
constexpr char kSeparator = '\\';
#else
constexpr std::string_view kSeparators = "/";
constexpr char kSeparator = '/';
#endif

std::string WithSlash(std::string dir) {
  if (dir.empty() || kSeparators.find(dir.back()) == std::string_view::npos) dir += kSeparator;
  return dir;
}

// Guards dataDir.
TMutex dataDirLock;
std::string dataDir GUARDED_BY(dataDirLock);

}  // namespace

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
