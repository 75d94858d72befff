#include "platform/clock_text.h"

#include <langinfo.h>
#include <locale.h>

#include <chrono>

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

// Expands the composite conversions that T_FMT may use into plain ones.
std::string ExpandTimeFormat(std::string fmt, const std::string& ampmFormat) {
  for (;;) {
    size_t at = fmt.find("%r");
    if (at != std::string::npos) {
      fmt.replace(at, 2, ampmFormat.empty() ? "%I:%M:%S %p" : ampmFormat);
      continue;
    }
    at = fmt.find("%T");
    if (at != std::string::npos) {
      fmt.replace(at, 2, "%H:%M:%S");
      continue;
    }
    at = fmt.find("%R");
    if (at != std::string::npos) {
      fmt.replace(at, 2, "%H:%M");
      continue;
    }
    return fmt;
  }
}

TimeShape ShapeFrom(const std::string& dateFormat, const std::string& timeFormat, const std::string& ampmFormat,
                    const std::string& am, const std::string& pm) {
  TimeShape shape;
  if (!dateFormat.empty()) shape.DateFormat = dateFormat;
  std::string fmt = ExpandTimeFormat(timeFormat.empty() ? "%H:%M:%S" : timeFormat, ampmFormat);
  size_t hour = std::string::npos;
  for (size_t i = 0; i + 1 < fmt.size(); ++i) {
    if (fmt[i] != '%') continue;
    char c = fmt[i + 1];
    if (c == 'E' || c == 'O') {  // modifiers: look at the conversion behind them
      if (i + 2 >= fmt.size()) break;
      c = fmt[i + 2];
    }
    if (c == 'H' || c == 'I' || c == 'k' || c == 'l') {
      shape.TwelveHour = (c == 'I' || c == 'l');
      shape.HourLeadingZero = (c == 'H' || c == 'I');
      hour = i;
      size_t after = fmt.find_first_not_of("EO", i + 1) + 1;
      if (after < fmt.size() && fmt[after] != '%') shape.Separator = std::string(1, fmt[after]);
      break;
    }
    ++i;
  }
  size_t marker = fmt.find("%p");
  if (marker == std::string::npos) marker = fmt.find("%P");
  if (shape.TwelveHour && marker != std::string::npos && hour != std::string::npos) shape.MarkerFirst = marker < hour;
  if (!am.empty()) shape.Am = am;
  if (!pm.empty()) shape.Pm = pm;
  return shape;
}

std::string TwoDigits(int v) { return std::string(1, char('0' + v / 10)) + char('0' + v % 10); }

}  // namespace

bool ShapeOfLocale(const std::string& name, TimeShape& shape) {
  locale_t loc = newlocale(LC_TIME_MASK, name.c_str(), static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) return false;
  shape = ShapeFrom(nl_langinfo_l(D_FMT, loc), nl_langinfo_l(T_FMT, loc), nl_langinfo_l(T_FMT_AMPM, loc),
                    nl_langinfo_l(AM_STR, loc), nl_langinfo_l(PM_STR, loc));
  freelocale(loc);
  return true;
}

void InitClockTexts() {
  setlocale(LC_TIME, "");
  TimeShape shape = ShapeFrom(nl_langinfo(D_FMT), nl_langinfo(T_FMT), nl_langinfo(T_FMT_AMPM), nl_langinfo(AM_STR),
                              nl_langinfo(PM_STR));
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
  localtime_r(&now, &local);
  return local;
}

std::string CurrentDateText() { return DateText(LocalNow(), CurrentShape()); }

std::string CurrentTimeText() { return TimeText(LocalNow(), CurrentShape()); }

std::string TimeTextIn(int64_t seconds) {
  const std::time_t then = std::time(nullptr) + static_cast<std::time_t>(seconds);
  std::tm local{};
  localtime_r(&then, &local);
  return TimeText(local, CurrentShape());
}

std::string UtcTimeText(int64_t unixSeconds) {
  const std::time_t time = static_cast<std::time_t>(unixSeconds);
  std::tm utc{};
  if (::gmtime_r(&time, &utc) == nullptr) return std::to_string(unixSeconds);
  char text[32];
  return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &utc));
}

std::string IsoUtcText(int64_t unixSeconds) {
  const std::time_t time = static_cast<std::time_t>(unixSeconds);
  std::tm utc{};
  if (::gmtime_r(&time, &utc) == nullptr) return std::to_string(unixSeconds);
  char text[32];
  return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc));
}

}  // namespace platform
