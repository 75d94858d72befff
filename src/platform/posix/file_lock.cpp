// The flock calls behind TFileLock.
#include "platform/file_lock_calls.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

const char* const kLockCallName = "flock";

std::optional<TLockFileOwner> OpenLockFile(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) return TSocket(fd);
  if (error) *error = "open " + path + ": " + std::strerror(errno);
  return std::nullopt;
}

TLockTry LockExclusive(const TLockFileOwner& file, bool wait, const std::string& path, std::string* error) {
  int rc;
  do {
    rc = ::flock(file.Fd(), wait ? LOCK_EX : LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return TLockTry::Taken;
  if (!wait && errno == EWOULDBLOCK) return TLockTry::Busy;
  if (error) *error = "flock " + path + ": " + std::strerror(errno);
  return TLockTry::Failed;
}

std::string ReadLockMark(const TLockFileOwner& file) {
  char text[32] = {};
  const ssize_t got = ::pread(file.Fd(), text, sizeof text - 1, 0);
  return got > 0 ? std::string(text, static_cast<size_t>(got)) : std::string("?");
}

bool WriteLockMark(const TLockFileOwner& file, const std::string& mark, const std::string& path, std::string* error) {
  if (::ftruncate(file.Fd(), 0) == 0 &&
      ::pwrite(file.Fd(), mark.data(), mark.size(), 0) == static_cast<ssize_t>(mark.size())) {
    return true;
  }
  if (error) *error = "write " + path + ": " + std::strerror(errno);
  return false;
}

// Closing the descriptor releases the lock at once.
void ReleaseLock(const TLockFileOwner&) {}

std::string ProcessIdText() { return std::to_string(::getpid()); }

}  // namespace platform
