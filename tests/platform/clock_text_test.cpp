// Date and time texts under three locales.
#include "platform/clock_text.h"

#include <gtest/gtest.h>

namespace {

std::tm At(int year, int month, int day, int hour, int minute, int second) {
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

TEST(ClockText, CLocale) {
  SHAPE_OR_SKIP("C", shape);
  EXPECT_EQ(platform::DateText(At(2026, 12, 7, 15, 59, 56), shape), "12/07/26");
  EXPECT_EQ(platform::TimeText(At(2026, 12, 7, 15, 59, 56), shape), "15:59:56");
  EXPECT_EQ(platform::TimeText(At(2026, 12, 7, 3, 4, 5), shape), "03:04:05");
}

TEST(ClockText, UsEnglishUsesTheTwelveHourClock) {
  SHAPE_OR_SKIP("en_US.UTF-8", shape);
  EXPECT_EQ(platform::DateText(At(2026, 12, 6, 15, 59, 56), shape), "12/06/2026");
  EXPECT_EQ(platform::TimeText(At(2026, 12, 6, 15, 59, 56), shape), "03:59:56 PM");
  EXPECT_EQ(platform::TimeText(At(2026, 12, 6, 0, 0, 1), shape), "12:00:01 AM");
  EXPECT_EQ(platform::TimeText(At(2026, 12, 6, 12, 30, 0), shape), "12:30:00 PM");
}

TEST(ClockText, Russian) {
  SHAPE_OR_SKIP("ru_RU.UTF-8", shape);
  EXPECT_EQ(platform::DateText(At(2026, 12, 6, 15, 59, 56), shape), "06.12.2026");
  EXPECT_EQ(platform::TimeText(At(2026, 12, 6, 15, 59, 56), shape), "15:59:56");
}

TEST(ClockText, HourWithoutLeadingZeroAndMarkerFirst) {
  platform::TimeShape shape;
  shape.HourLeadingZero = false;
  shape.TwelveHour = true;
  shape.MarkerFirst = true;
  shape.Separator = ".";
  EXPECT_EQ(platform::TimeText(At(2026, 1, 1, 9, 5, 7), shape), "am 9.05.07");
  EXPECT_EQ(platform::TimeText(At(2026, 1, 1, 22, 5, 7), shape), "pm 10.05.07");
}

}  // namespace
