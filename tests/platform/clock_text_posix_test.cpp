// Date and time texts under the C library's en_US locale (glibc's data; on
// Windows the same locale has the system's own shapes).
#include "platform/clock_text.h"

#include <gtest/gtest.h>

#include "platform/clock_shapes.h"

namespace {

TEST(ClockText, UsEnglishUsesTheTwelveHourClock) {
  SHAPE_OR_SKIP("en_US.UTF-8", shape);
  EXPECT_EQ(platform::DateText(At(2026, 12, 6, 15, 59, 56), shape), "12/06/2026");
  EXPECT_EQ(platform::TimeText(At(2026, 12, 6, 15, 59, 56), shape), "03:59:56 PM");
  EXPECT_EQ(platform::TimeText(At(2026, 12, 6, 0, 0, 1), shape), "12:00:01 AM");
  EXPECT_EQ(platform::TimeText(At(2026, 12, 6, 12, 30, 0), shape), "12:30:00 PM");
}

}  // namespace
