#include "platform/file_lock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

std::optional<TFileLock> TFileLock::Acquire(const std::string& path, std::string* error) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error) *error = "open " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  TSocket owner(fd);
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    if (error) *error = "flock " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  return TFileLock(std::move(owner));
}

}  // namespace platform
