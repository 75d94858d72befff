// Notifications to the admins' chat: each event posted as JSON to every URL
// of "notify_url" (Discord webhooks, or any receiver of the plain shape).
//
// Posting never waits: Post copies the notice into a bounded queue under the
// notifier's own small lock, so a ban or a supervision run can post while it
// holds anything. One worker thread empties the queue, one event at a time,
// to each URL in turn. A full queue drops its oldest event.
//
// A URL that works gets each event up to Tries times: after no answer, a
// 429 or a 5xx it waits FirstRetry, then twice as long each time (at most
// LongestRetry; a 429's Retry-After when that is longer); any other 4xx is
// not tried again, since the same body would meet the same answer. A URL
// whose event failed so is failing: each event is tried once there until one
// gets through. The console and the full log say when a URL starts failing
// (at most once per FailureLineGap for each URL) and when it works again,
// never once per event; every URL appears masked (MaskedUrl).
//
// Stop (and the destructor) ends the waits at once, tries what is queued for
// at most StopGrace, once each, cuts the request under way when that is
// over, and joins the worker.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "base/settings.h"
#include "notify/notice.h"
#include "platform/mutex.h"

class THttpPoster;

struct TNotifierOptions {
  size_t QueueLimit = 1000;  // events waiting at most
  int Tries = 4;             // for each event at a URL that works
  std::chrono::milliseconds FirstRetry{1000};
  std::chrono::milliseconds LongestRetry{60000};
  std::chrono::milliseconds RequestTimeout{10000};  // each request, its connection included
  std::chrono::milliseconds StopGrace{2000};
  std::chrono::seconds FailureLineGap{600};
};

class TNotifier {
 public:
  // Starts the worker and says on the console (and in the full log) where
  // notifications go. urls must be valid (IsNotifyUrl) and not empty.
  TNotifier(const std::vector<std::string>& urls, NotifyFormat format, const TNotifierOptions& options = {});
  ~TNotifier();
  TNotifier(const TNotifier&) = delete;
  TNotifier& operator=(const TNotifier&) = delete;

  // Queues the event for every URL; never waits for anything but the queue's
  // lock. After Stop the event is dropped. Thread safe.
  void Post(TNotice notice);
  // See above. Idempotent; one thread at a time (the owner's).
  void Stop();

 private:
  // A URL and what the worker knows of it. The worker's own.
  struct TTarget {
    std::string Url;
    std::string Shown;  // masked
    bool Failing = false;
    bool FailureSaid = false;  // its failing line was written (so its working line is too)
    std::chrono::steady_clock::time_point LastFailureLine{};
    bool EverSaid = false;
    uint64_t Lost = 0;  // events given up since it began failing
  };

  void Work();
  // One event's body to one URL, with its tries.
  void Deliver(THttpPoster& poster, TTarget& target, const std::string& body);
  // Waits until then, or less when a stop begins; false when stopping.
  bool Pause(std::chrono::steady_clock::time_point then);
  bool Stopping();
  // Whether the stop's grace is over: the request under way is cut.
  bool GraceOver() const;

  const NotifyFormat format_;
  const TNotifierOptions options_;
  std::vector<TTarget> targets_;
  bool saidFull_ = false;  // the worker's: the full queue was said since it was last empty

  // Guards the queue, the count of events it dropped, and the stop; held
  // only to change or read them, never while anything is waited for but
  // wake_ (which releases it).
  TMutex lock_;
  std::condition_variable wake_;
  std::deque<TNotice> queue_ GUARDED_BY(lock_);
  uint64_t overflowed_ GUARDED_BY(lock_) = 0;  // events dropped from the full queue, not yet said
  bool stopping_ GUARDED_BY(lock_) = false;
  // When the stop's grace ends, in steady-clock nanoseconds; the maximum
  // until a stop. Atomic: libcurl's progress callback reads it.
  std::atomic<int64_t> graceEnd_;
  std::thread worker_;  // last: it starts when everything else is in place
};
