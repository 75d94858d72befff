// TMutex: std::mutex as a capability the compiler can check (see
// thread_annotations.h). TMutexLock holds one for a scope.
#pragma once

#include <mutex>

#include "base/thread_annotations.h"

class CAPABILITY("mutex") TMutex {
 public:
  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }
  bool TryLock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

 private:
  friend class TMutexLock;
  std::mutex mutex_;
};

// Holds a TMutex from construction to destruction. Unlock()/Lock() let the
// few places that must release early (or re-take) do so; the destructor
// releases only if held.
class SCOPED_CAPABILITY TMutexLock {
 public:
  explicit TMutexLock(TMutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
  ~TMutexLock() RELEASE() {}
  TMutexLock(const TMutexLock&) = delete;
  TMutexLock& operator=(const TMutexLock&) = delete;

  void Unlock() RELEASE() { lock_.unlock(); }
  void Lock() ACQUIRE() { lock_.lock(); }

  // The underlying lock, for std::condition_variable waits. A wait releases
  // the mutex while it sleeps and holds it again when it returns, so the
  // mutex is held after the call exactly as before it.
  std::unique_lock<std::mutex>& Native() { return lock_; }

 private:
  std::unique_lock<std::mutex> lock_;
};
