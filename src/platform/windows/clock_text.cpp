// The shape of time texts from a Windows locale: its short date (LOCALE_SSHORTDATE),
// its time format (LOCALE_STIMEFORMAT) and its AM and PM strings, read with
// GetLocaleInfoEx. The formats are pictures ("M/d/yyyy", "h:mm:ss tt"); the
// date's becomes the strftime pattern DateText uses.
#include "platform/clock_locale.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>

#include "platform/windows/wide_text.h"
#include "platform/windows/windows_api.h"

namespace platform {
namespace {

// The locale's value of one item; empty when it has none.
std::string LocaleItem(const wchar_t* locale, LCTYPE item) {
  wchar_t text[128] = {};
  const int length = ::GetLocaleInfoEx(locale, item, text, static_cast<int>(std::size(text)));
  return length > 1 ? Utf8Of(std::wstring(text, static_cast<size_t>(length - 1))) : std::string();
}

// The strftime pattern of a date picture: d, dd, ddd, dddd for the day, M..MMMM
// for the month, y, yy, yyyy for the year; text in quotes as it is; the era
// (g, gg) is left out. "%#d" is the day without its leading zero.
std::string DatePattern(const std::string& picture) {
  std::string pattern;
  for (size_t i = 0; i < picture.size();) {
    const char c = picture[i];
    if (c == '\'') {
      const size_t close = picture.find('\'', i + 1);
      const std::string quoted = picture.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
      for (const char q : quoted) pattern += q == '%' ? std::string("%%") : std::string(1, q);
      i = close == std::string::npos ? picture.size() : close + 1;
      continue;
    }
    size_t run = 1;
    while (i + run < picture.size() && picture[i + run] == c) ++run;
    if (c == 'd') {
      pattern += run == 1 ? "%#d" : run == 2 ? "%d" : run == 3 ? "%a" : "%A";
    } else if (c == 'M') {
      pattern += run == 1 ? "%#m" : run == 2 ? "%m" : run == 3 ? "%b" : "%B";
    } else if (c == 'y') {
      pattern += run == 1 ? "%#y" : run == 2 ? "%y" : "%Y";
    } else if (c != 'g') {
      for (size_t k = 0; k < run; ++k) pattern += c == '%' ? "%%" : std::string(1, c);
    }
    i += run;
  }
  return pattern;
}

// The shape of a time picture: h or hh (12-hour clock), H or HH (24-hour), the
// text between the hour and the minutes as the separator, t or tt for the
// AM/PM marker before or after the time.
void ReadTimePicture(const std::string& picture, TimeShape& shape) {
  const size_t hour = picture.find_first_of("hH");
  if (hour == std::string::npos) return;
  shape.TwelveHour = picture[hour] == 'h';
  const size_t afterHour = picture.find_first_not_of(picture[hour], hour);
  shape.HourLeadingZero = (afterHour == std::string::npos ? picture.size() : afterHour) - hour >= 2;
  if (afterHour != std::string::npos) {
    const size_t minutes = picture.find('m', afterHour);
    std::string separator = picture.substr(afterHour, minutes == std::string::npos ? 1 : minutes - afterHour);
    std::erase(separator, '\'');
    if (!separator.empty()) shape.Separator = separator;
  }
  const size_t marker = picture.find('t');
  shape.MarkerFirst = shape.TwelveHour && marker != std::string::npos && marker < hour;
}

std::optional<TimeShape> ShapeOf(const wchar_t* locale) {
  const std::string date = LocaleItem(locale, LOCALE_SSHORTDATE);
  const std::string time = LocaleItem(locale, LOCALE_STIMEFORMAT);
  if (date.empty() || time.empty()) return std::nullopt;
  TimeShape shape;
  shape.DateFormat = DatePattern(date);
  ReadTimePicture(time, shape);
  const std::string am = LocaleItem(locale, LOCALE_S1159);
  const std::string pm = LocaleItem(locale, LOCALE_S2359);
  if (!am.empty()) shape.Am = am;
  if (!pm.empty()) shape.Pm = pm;
  return shape;
}

}  // namespace

// Takes Windows names ("en-US") and POSIX ones ("en_US.UTF-8", "C").
bool ShapeOfLocale(const std::string& name, TimeShape& shape) {
  if (name == "C" || name == "POSIX") {
    shape = TimeShape();
    shape.Am = "AM";
    shape.Pm = "PM";
    return true;
  }
  std::string windowsName = name.substr(0, name.find_first_of(".@"));
  std::replace(windowsName.begin(), windowsName.end(), '_', '-');
  const std::optional<TimeShape> read = ShapeOf(WideOf(windowsName).c_str());
  if (!read) return false;
  shape = *read;
  return true;
}

TimeShape ShapeOfProcessLocale() {
  // The C runtime's locale stays "C": the user's month names would come in
  // the ANSI code page, not in the program's UTF-8.
  return ShapeOf(LOCALE_NAME_USER_DEFAULT).value_or(TimeShape());
}

}  // namespace platform
