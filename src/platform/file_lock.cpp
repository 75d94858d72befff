#include "platform/file_lock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>

#include "platform/stop_signal.h"

namespace platform {

namespace {

constexpr int kLockRetryMs = 20;  // between two tries of a lock held elsewhere

// Opens the lock file, creating it when missing; nullopt with the reason.
std::optional<TSocket> OpenLockFile(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) return TSocket(fd);
  if (error) *error = "open " + path + ": " + std::strerror(errno);
  return std::nullopt;
}

}  // namespace

std::optional<TFileLock> TFileLock::Acquire(const std::string& path, std::string* error) {
  std::optional<TSocket> owner = OpenLockFile(path, error);
  if (!owner) return std::nullopt;
  const int fd = owner->Fd();
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    if (error) *error = "flock " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  return TFileLock(std::move(*owner));
}

std::optional<TFileLock> TFileLock::AcquireWithin(const std::string& path, int waitMs, bool* busy,
                                                 std::string* error) {
  *busy = false;
  std::optional<TSocket> owner = OpenLockFile(path, error);
  if (!owner) return std::nullopt;
  const int fd = owner->Fd();
  // flock has no time-out: try without blocking, and between tries sleep on
  // the stop pipe, so the wait costs no CPU and ends at once at a stop.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return TFileLock(std::move(*owner));
    if (errno != EWOULDBLOCK && errno != EINTR) {
      if (error) *error = "flock " + path + ": " + std::strerror(errno);
      return std::nullopt;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      *busy = true;
      if (error) *error = "flock " + path + ": held by another process for " + std::to_string(waitMs) + " ms";
      return std::nullopt;
    }
    if (WaitForStop(kLockRetryMs)) {
      *busy = true;
      if (error) *error = "flock " + path + ": the server is stopping";
      return std::nullopt;
    }
  }
}

std::optional<TFileLock> TFileLock::TryAcquireAndMark(const std::string& path, std::string* holder,
                                                     std::string* error) {
  std::optional<TSocket> owner = OpenLockFile(path, error);
  if (!owner) return std::nullopt;
  const int fd = owner->Fd();
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
  return TFileLock(std::move(*owner));
}

}  // namespace platform
