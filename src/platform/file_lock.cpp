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

std::optional<TFileLock> TFileLock::TryAcquireAndMark(const std::string& path, std::string* holder,
                                                     std::string* error) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error) *error = "open " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  TSocket owner(fd);
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0 && errno == EWOULDBLOCK) {
    char text[32] = {};
    const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    if (holder) *holder = got > 0 ? std::string(text, static_cast<size_t>(got)) : std::string("?");
    while (holder && !holder->empty() && (holder->back() == '\n' || holder->back() == '\r')) holder->pop_back();
    return std::nullopt;
  }
  if (rc != 0) {
    if (error) *error = "flock " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    if (error) *error = "write " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  return TFileLock(std::move(owner));
}

}  // namespace platform
