// What the tests of the date and time texts share: a calendar time, and the
// shape of a locale or a skip.
#pragma once

#include <gtest/gtest.h>

#include <ctime>

#include "platform/clock_text.h"

inline std::tm At(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

// The shape of a locale, or a skip with a message saying which one is missing.
#define SHAPE_OR_SKIP(name, shape)                                                               \
  platform::TimeShape shape;                                                                     \
  if (!platform::ShapeOfLocale(name, shape)) GTEST_SKIP() << "locale " name " is not installed " \
                                                             "(scripts/install-deps.sh makes it)";
