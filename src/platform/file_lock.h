// An advisory lock on a lock file (flock; LockFileEx on Windows), shared with
// other processes: the server and the admin's ban tool take it around every
// read-modify-write of the ban base, so neither overwrites the other's change;
// and one server holds one for its whole life in its data directory, so no
// second one starts there.
#pragma once

#include <optional>
#include <string>

#ifdef _WIN32
#include "platform/windows/handle.h"
#else
#include "platform/socket.h"
#endif

namespace platform {

// What holds the lock file open: closing it releases the lock.
#ifdef _WIN32
using TLockFileOwner = THandle;  // the file's HANDLE
#else
using TLockFileOwner = TSocket;  // a plain descriptor owner
#endif

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
  // Releases the lock and closes the file.
  ~TFileLock();

 private:
  explicit TFileLock(TLockFileOwner file) : file_(std::move(file)) {}
  TLockFileOwner file_;
};

}  // namespace platform
