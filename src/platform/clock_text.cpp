// Date and time texts in a shape read from the locale (clock_locale.h).
#include "platform/clock_text.h"

#include <chrono>

#include "platform/clock_locale.h"
#include "platform/mutex.h"

namespace platform {

int64_t UnixSeconds() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

namespace {

// Guards shapeValue. Written at start (and by tests), read by every log write.
TMutex shapeLock;
TimeShape shapeValue GUARDED_BY(shapeLock);

std::string TwoDigits(int v) { return std::string(1, char('0' + v / 10)) + char('0' + v % 10); }

// The broken-down local or UTC time of a moment; false when the system has none.
bool LocalTimeOf(std::time_t time, std::tm& local) {
#ifdef _WIN32
  return ::localtime_s(&local, &time) == 0;
#else
  return ::localtime_r(&time, &local) != nullptr;
#endif
}

bool UtcTimeOf(std::time_t time, std::tm& utc) {
#ifdef _WIN32
  return ::gmtime_s(&utc, &time) == 0;
#else
  return ::gmtime_r(&time, &utc) != nullptr;
#endif
}

}  // namespace

void InitClockTexts() {
  const TimeShape shape = ShapeOfProcessLocale();
  TMutexLock guard(shapeLock);
  shapeValue = shape;
}

TimeShape CurrentShape() {
  TMutexLock guard(shapeLock);
  return shapeValue;
}

void SetShapeForTesting(const TimeShape& shape) {
  TMutexLock guard(shapeLock);
  shapeValue = shape;
}

std::string DateText(const std::tm& local, const TimeShape& shape) {
  char buffer[128];
  size_t n = std::strftime(buffer, sizeof buffer, shape.DateFormat.c_str(), &local);
  return std::string(buffer, n);
}

std::string TimeText(const std::tm& local, const TimeShape& shape) {
  int hour = local.tm_hour;
  std::string marker;
  if (shape.TwelveHour) {
    marker = hour < 12 ? shape.Am : shape.Pm;
    hour %= 12;
    if (hour == 0) hour = 12;
  }
  std::string text = (shape.HourLeadingZero || hour >= 10) ? TwoDigits(hour) : std::to_string(hour);
  text += shape.Separator + TwoDigits(local.tm_min) + shape.Separator + TwoDigits(local.tm_sec);
  if (!shape.TwelveHour) return text;
  return shape.MarkerFirst ? marker + " " + text : text + " " + marker;
}

std::tm LocalNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  LocalTimeOf(now, local);
  return local;
}

std::string CurrentDateText() { return DateText(LocalNow(), CurrentShape()); }

std::string CurrentTimeText() { return TimeText(LocalNow(), CurrentShape()); }

std::string TimeTextIn(int64_t seconds) {
  const std::time_t then = std::time(nullptr) + static_cast<std::time_t>(seconds);
  std::tm local{};
  LocalTimeOf(then, local);
  return TimeText(local, CurrentShape());
}

std::string UtcTimeText(int64_t unixSeconds) {
  const std::time_t time = static_cast<std::time_t>(unixSeconds);
  std::tm utc{};
  if (!UtcTimeOf(time, utc)) return std::to_string(unixSeconds);
  char text[32];
  return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &utc));
}

std::string IsoUtcText(int64_t unixSeconds) {
  const std::time_t time = static_cast<std::time_t>(unixSeconds);
  std::tm utc{};
  if (!UtcTimeOf(time, utc)) return std::to_string(unixSeconds);
  char text[32];
  return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc));
}

}  // namespace platform
