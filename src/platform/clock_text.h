// Date and time texts in the shape of the locale (LC_TIME; on Windows the
// user's locale), read once at start: the short date as the locale's D_FMT
// (short date format) writes it, and the time as hour, minutes and seconds
// with the locale's separator, leading-zero rule and 12- or 24-hour clock.
// With LC_ALL=C: "12/07/26" and "15:59:56".
#pragma once

#include <cstdint>

#include <ctime>
#include <string>

namespace platform {

// Seconds since 1970-01-01 UTC. Thread safe.
int64_t UnixSeconds();

// What the locale says about time texts.
struct TimeShape {
  std::string DateFormat = "%m/%d/%y";  // strftime pattern of the short date
  bool HourLeadingZero = true;
  bool TwelveHour = false;
  bool MarkerFirst = false;  // AM/PM before the time
  std::string Separator = ":";
  std::string Am = "am";
  std::string Pm = "pm";
};

// Reads the shape from the environment's LC_TIME (setlocale(LC_TIME, "")), on
// Windows from the user's locale. Main thread, once, before other threads
// start.
void InitClockTexts();
// Reads the shape of a named locale without changing the process locale; false
// when the locale cannot be had. Windows takes its own names ("en-US") and
// POSIX ones ("en_US.UTF-8", "C"). For tests.
bool ShapeOfLocale(const std::string& locale, TimeShape& shape);
TimeShape CurrentShape();
void SetShapeForTesting(const TimeShape& shape);

std::string DateText(const std::tm& local, const TimeShape& shape);
std::string TimeText(const std::tm& local, const TimeShape& shape);
// The texts of the current local time with the current shape. Thread safe.
std::string CurrentDateText();
std::string CurrentTimeText();
// The text of the local time `seconds` from now, with the current shape.
// Thread safe.
std::string TimeTextIn(int64_t seconds);
std::tm LocalNow();
// "2026-12-07 19:51" for Unix seconds, in UTC (records and tools, the same on
// every server of a community). Thread safe.
std::string UtcTimeText(int64_t unixSeconds);
// "2026-12-07T19:51:06Z": ISO 8601 in UTC, for texts that machines read.
// Thread safe.
std::string IsoUtcText(int64_t unixSeconds);

}  // namespace platform
