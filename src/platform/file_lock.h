// An advisory lock on a lock file (flock), shared with other processes: the
// server and the admin's ban tool take it around every read-modify-write of the
// ban base, so neither overwrites the other's change.
#pragma once

#include <optional>
#include <string>

#include "platform/socket.h"

namespace platform {

class TFileLock {
 public:
  // Opens (creating when missing) the lock file and waits, without using CPU,
  // until the exclusive lock is ours. nullopt with the reason when the file
  // cannot be opened or locked.
  static std::optional<TFileLock> Acquire(const std::string& path, std::string* error);
  TFileLock(TFileLock&&) = default;
  TFileLock& operator=(TFileLock&&) = default;
  // Closing the descriptor releases the lock.
  ~TFileLock() = default;

 private:
  explicit TFileLock(TSocket fd) : fd_(std::move(fd)) {}
  TSocket fd_;  // a plain descriptor owner: closes the file, which releases the lock
};

}  // namespace platform
