// The three ways of taking a file lock, on the system's calls of
// file_lock_calls.h.
#include "platform/file_lock.h"

#include <chrono>

#include "platform/file_lock_calls.h"
#include "platform/stop_signal.h"

namespace platform {

namespace {

constexpr int kLockRetryMs = 20;  // between two tries of a lock held elsewhere

}  // namespace

TFileLock::~TFileLock() {
  if (file_.Valid()) ReleaseLock(file_);
}

std::optional<TFileLock> TFileLock::Acquire(const std::string& path, std::string* error) {
  std::optional<TLockFileOwner> file = OpenLockFile(path, error);
  if (!file) return std::nullopt;
  if (LockExclusive(*file, true, path, error) != TLockTry::Taken) return std::nullopt;
  return TFileLock(std::move(*file));
}

std::optional<TFileLock> TFileLock::AcquireWithin(const std::string& path, int waitMs, bool* busy,
                                                 std::string* error) {
  *busy = false;
  std::optional<TLockFileOwner> file = OpenLockFile(path, error);
  if (!file) return std::nullopt;
  // Neither system's lock call has a time-out: try without blocking, and
  // between tries sleep on the stop's wake, so the wait costs no CPU and ends
  // at once at a stop.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    const TLockTry tried = LockExclusive(*file, false, path, error);
    if (tried == TLockTry::Taken) return TFileLock(std::move(*file));
    if (tried == TLockTry::Failed) return std::nullopt;
    if (std::chrono::steady_clock::now() >= deadline) {
      *busy = true;
      if (error) {
        *error = std::string(kLockCallName) + " " + path + ": held by another process for " + std::to_string(waitMs) +
                 " ms";
      }
      return std::nullopt;
    }
    if (WaitForStop(kLockRetryMs)) {
      *busy = true;
      if (error) *error = std::string(kLockCallName) + " " + path + ": the server is stopping";
      return std::nullopt;
    }
  }
}

std::optional<TFileLock> TFileLock::TryAcquireAndMark(const std::string& path, std::string* holder,
                                                     std::string* error) {
  std::optional<TLockFileOwner> file = OpenLockFile(path, error);
  if (!file) return std::nullopt;
  const TLockTry tried = LockExclusive(*file, false, path, error);
  if (tried == TLockTry::Busy) {
    if (holder) {
      *holder = ReadLockMark(*file);
      while (!holder->empty() && (holder->back() == '\n' || holder->back() == '\r')) holder->pop_back();
    }
    return std::nullopt;
  }
  if (tried == TLockTry::Failed) return std::nullopt;
  TFileLock lock(std::move(*file));
  if (!WriteLockMark(lock.file_, ProcessIdText() + "\n", path, error)) return std::nullopt;
  return lock;
}

}  // namespace platform
