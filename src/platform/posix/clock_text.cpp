// The shape of time texts from a POSIX locale: its D_FMT, T_FMT and AM/PM
// strings, read with nl_langinfo.
#include "platform/clock_locale.h"

#include <langinfo.h>
#include <locale.h>

namespace platform {
namespace {

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

}  // namespace

bool ShapeOfLocale(const std::string& name, TimeShape& shape) {
  locale_t loc = newlocale(LC_TIME_MASK, name.c_str(), static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) return false;
  shape = ShapeFrom(nl_langinfo_l(D_FMT, loc), nl_langinfo_l(T_FMT, loc), nl_langinfo_l(T_FMT_AMPM, loc),
                    nl_langinfo_l(AM_STR, loc), nl_langinfo_l(PM_STR, loc));
  freelocale(loc);
  return true;
}

TimeShape ShapeOfProcessLocale() {
  setlocale(LC_TIME, "");
  return ShapeFrom(nl_langinfo(D_FMT), nl_langinfo(T_FMT), nl_langinfo(T_FMT_AMPM), nl_langinfo(AM_STR),
                   nl_langinfo(PM_STR));
}

}  // namespace platform
