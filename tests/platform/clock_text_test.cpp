// Date and time texts under three locales.
#include "platform/clock_text.h"

#include <gtest/gtest.h>

#include "platform/clock_shapes.h"

namespace {

TEST(ClockText, CLocale) {
  SHAPE_OR_SKIP("C", shape);
  EXPECT_EQ(platform::DateText(At(2026, 12, 7, 15, 59, 56), shape), "12/07/26");
  EXPECT_EQ(platform::TimeText(At(2026, 12, 7, 15, 59, 56), shape), "15:59:56");
  EXPECT_EQ(platform::TimeText(At(2026, 12, 7, 3, 4, 5), shape), "03:04:05");
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
