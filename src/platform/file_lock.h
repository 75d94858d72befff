// An advisory lock on a lock file (flock), shared with other processes: the
// server and the admin's ban tool take it around every read-modify-write of the
// ban base, so neither overwrites the other's change; and one server holds one
// for its whole life in its data directory, so no second one starts there.
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
  // Takes the lock only when it is free, and writes this process's id into
  // the file, so that another process can tell who holds it. When another
  // process holds it: nullopt, with that process's id (the file's text) in
  // holder and error empty. When the file cannot be opened or locked: nullopt
  // with the reason in error.
  // Acquire, but waiting at most waitMs and not past a stop request: nullopt
  // with the reason when it is not had by then (busy set), or when the file
  // cannot be opened or locked at all (busy clear).
  static std::optional<TFileLock> AcquireWithin(const std::string& path, int waitMs, bool* busy, std::string* error);
  static std::optional<TFileLock> TryAcquireAndMark(const std::string& path, std::string* holder, std::string* error);
  TFileLock(TFileLock&&) = default;
  TFileLock& operator=(TFileLock&&) = default;
  // Closing the descriptor releases the lock.
  ~TFileLock() = default;

 private:
  explicit TFileLock(TSocket fd) : fd_(std::move(fd)) {}
  TSocket fd_;  // a plain descriptor owner: closes the file, which releases the lock
};

}  // namespace platform
