// TMutex: std::mutex as a capability the compiler can check (see
// thread_annotations.h). TMutexLock holds one for a scope.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/thread_annotations.h"

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

// A TMutex whose waiters may give up: for the holders of a resource that can
// be slow (a database another process has locked), so that a reader answers
// "busy" in bounded time instead of queueing behind the slow holder. Built
// from a mutex, a flag and a condition variable rather than std::timed_mutex,
// whose timed wait (pthread_mutex_clocklock) ThreadSanitizer does not see; a
// waiter sleeps on the condition variable.
class CAPABILITY("mutex") TTimedMutex {
 public:
  void Lock() ACQUIRE() NO_THREAD_SAFETY_ANALYSIS {
    std::unique_lock<std::mutex> guard(state_);
    free_.wait(guard, [this] { return !held_; });
    held_ = true;
  }
  void Unlock() RELEASE() NO_THREAD_SAFETY_ANALYSIS {
    {
      std::lock_guard<std::mutex> guard(state_);
      held_ = false;
    }
    free_.notify_one();
  }
  // True (and held) when the mutex was taken within wait.
  bool TryLockFor(std::chrono::milliseconds wait) TRY_ACQUIRE(true) NO_THREAD_SAFETY_ANALYSIS {
    std::unique_lock<std::mutex> guard(state_);
    if (!free_.wait_for(guard, wait, [this] { return !held_; })) return false;
    held_ = true;
    return true;
  }

 private:
  std::mutex state_;  // guards held_
  std::condition_variable free_;
  bool held_ = false;
};

// Holds a TTimedMutex to the end of the scope: taken by the constructor, or
// adopted from a successful TryLockFor.
class SCOPED_CAPABILITY TTimedMutexLock {
 public:
  explicit TTimedMutexLock(TTimedMutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
  TTimedMutexLock(TTimedMutex& mutex, std::adopt_lock_t) REQUIRES(mutex) : mutex_(mutex) {}
  ~TTimedMutexLock() RELEASE() { mutex_.Unlock(); }
  TTimedMutexLock(const TTimedMutexLock&) = delete;
  TTimedMutexLock& operator=(const TTimedMutexLock&) = delete;

 private:
  TTimedMutex& mutex_;
};
