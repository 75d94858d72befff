#include "notify/notifier.h"

#include "platform/thread_priority.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "base/metrics.h"
#include "log/logs.h"
#include "notify/http_post.h"
#include "notify/notice_text.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t Nanos(Clock::time_point at) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

std::string Plural(size_t n, const std::string& one, const std::string& many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Why a try failed, for the failing line.
std::string Why(const THttpAnswer& answer) {
  return answer.Status != 0 ? "HTTP " + std::to_string(answer.Status) : answer.Error;
}

}  // namespace

TNotifier::TNotifier(const std::vector<std::string>& urls, NotifyFormat format, const TNotifierOptions& options)
    : format_(format), options_(options), graceEnd_(std::numeric_limits<int64_t>::max()) {
  std::string shown;
  for (const std::string& url : urls) {
    TTarget target;
    target.Url = url;
    target.Shown = MaskedUrl(url);
    shown += (shown.empty() ? "" : ", ") + target.Shown;
    targets_.push_back(std::move(target));
  }
  WriteEvent("Notifications: on, " + Plural(targets_.size(), "URL", "URLs") + " in the " +
             (format == NotifyFormat::Json ? "json" : "discord") + " format: " + shown);
  worker_ = std::thread([this] { Work(); });
}

TNotifier::~TNotifier() { Stop(); }

void TNotifier::Post(TNotice notice) {
  {
    TMutexLock guard(lock_);
    if (stopping_) {
      Metrics.NotificationsDropped += targets_.size();
      return;
    }
    queue_.push_back(std::move(notice));
    if (queue_.size() > options_.QueueLimit) {
      queue_.pop_front();
      ++overflowed_;
      Metrics.NotificationsDropped += targets_.size();
    }
  }
  wake_.notify_one();
}

void TNotifier::Stop() {
  {
    TMutexLock guard(lock_);
    if (!stopping_) {
      stopping_ = true;
      graceEnd_ = Nanos(Clock::now() + options_.StopGrace);
    }
  }
  wake_.notify_all();
  if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

bool TNotifier::Stopping() {
  TMutexLock guard(lock_);
  return stopping_;
}

bool TNotifier::GraceOver() const { return Nanos(Clock::now()) >= graceEnd_.load(); }

bool TNotifier::Pause(Clock::time_point then) {
  TMutexLock guard(lock_);
  wake_.wait_until(guard.Native(), then, [this]() REQUIRES(lock_) { return stopping_; });
  return !stopping_;
}

void TNotifier::Work() {
  // Notifications can wait; the clients' replies cannot.
  platform::LowerThisThreadPriority();
  THttpPoster poster;
  for (;;) {
    TNotice notice;
    uint64_t overflowed = 0;
    size_t left = 0;  // events still queued when the stop's grace is over
    {
      TMutexLock guard(lock_);
      wake_.wait(guard.Native(), [this]() REQUIRES(lock_) { return stopping_ || !queue_.empty(); });
      overflowed = std::exchange(overflowed_, 0);
      if (queue_.empty()) return;  // stopping, and nothing left
      if (stopping_ && GraceOver()) {
        left = queue_.size();
        queue_.clear();
      } else {
        notice = std::move(queue_.front());
        queue_.pop_front();
        if (queue_.empty() && overflowed == 0) saidFull_ = false;
      }
    }
    if (overflowed > 0 && !saidFull_) {
      saidFull_ = true;
      WriteEvent("Notifications: more than " + std::to_string(options_.QueueLimit) +
                 " events wait to be sent; the oldest are dropped");
    }
    if (left > 0) {
      Metrics.NotificationsDropped += left * targets_.size();
      WriteEvent("Notifications: " + Plural(left, "event", "events") + " not sent before the stop");
      return;
    }
    const std::string body = NoticeBody(notice, format_);
    for (TTarget& target : targets_) Deliver(poster, target, body);
  }
}

void TNotifier::Deliver(THttpPoster& poster, TTarget& target, const std::string& body) {
  const std::function<bool()> cancel = [this] { return GraceOver(); };
  const int tries = target.Failing || Stopping() ? 1 : std::max(1, options_.Tries);
  std::chrono::milliseconds wait = options_.FirstRetry;
  THttpAnswer answer;
  int tried = 0;
  while (tried < tries && !GraceOver()) {
    answer = poster.Post(target.Url, body, options_.RequestTimeout, cancel);
    ++tried;
    if (answer.Status >= 200 && answer.Status < 300) {
      ++Metrics.NotificationsSent;
      if (target.Failing && target.FailureSaid) {
        WriteEvent("Notifications to " + target.Shown + " work again (" +
                   Plural(target.Lost, "event", "events") + " not delivered meanwhile)");
      }
      target.Failing = false;
      target.Lost = 0;
      return;
    }
    // Any other 4xx would meet the same answer again.
    const bool again = answer.Status == 0 || answer.Status == 429 || answer.Status >= 500;
    if (!again || tried == tries) break;
    std::chrono::milliseconds pause = wait;
    if (answer.RetryAfterSeconds > 0) pause = std::max<std::chrono::milliseconds>(pause, std::chrono::seconds(answer.RetryAfterSeconds));
    if (!Pause(Clock::now() + std::min(pause, options_.LongestRetry))) break;
    wait = std::min(wait * 2, options_.LongestRetry);
  }
  if (tried == 0) {
    // The stop's grace ended before this URL's turn.
    ++Metrics.NotificationsDropped;
    return;
  }
  ++Metrics.NotificationsFailed;
  ++target.Lost;
  // A try the stop cut short says nothing of the URL.
  if (target.Failing || Stopping()) return;
  target.Failing = true;
  const Clock::time_point now = Clock::now();
  target.FailureSaid = !target.EverSaid || now - target.LastFailureLine >= options_.FailureLineGap;
  if (!target.FailureSaid) return;
  target.EverSaid = true;
  target.LastFailureLine = now;
  WriteEvent("Notifications to " + target.Shown + " fail (" + Why(answer) + ", " + Plural(tried, "try", "tries") +
             "); each event is tried there once until one gets through");
}
