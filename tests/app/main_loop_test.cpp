// The main loop's schedule over many passes.
#include "app/main_loop.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/timing.h"

namespace {

TEST(MainLoopSchedule, OverOneThousandAndThreePasses) {
  const TimingRecord timing;
  LoopCounters counters;
  std::vector<int> supervised, maintained, advertised;
  for (int pass = 1; pass <= 1003; ++pass) {
    PassPlan plan = NextPass(timing, counters);
    if (plan.Supervise) supervised.push_back(pass);
    if (plan.Maintain) maintained.push_back(pass);
    if (plan.Advertise) advertised.push_back(pass);
    EXPECT_FALSE(plan.Maintain && !plan.Supervise) << pass;
  }
  ASSERT_GE(supervised.size(), 3u);
  EXPECT_EQ(supervised[0], 1);
  EXPECT_EQ(supervised[1], 31);
  EXPECT_EQ(supervised[2], 61);
  EXPECT_EQ(supervised.size(), 34u);  // 1, 31, ..., 991
  EXPECT_EQ(maintained.front(), 1);
  EXPECT_EQ(maintained[1], 61);
  EXPECT_EQ(maintained.size(), 17u);
  EXPECT_EQ(advertised, (std::vector<int>{501, 1002}));
}

}  // namespace
