// The wait of the main loop's tick.
#include "platform/stop_signal.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

TEST(WaitForStop, AWaitOfOneMillisecondIsNeverAWaitOfNone) {
  platform::ResetStopForTesting();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 50; ++i) EXPECT_FALSE(platform::WaitForStop(1));
  // A lower bound only: a wait rounded down to nothing would make the main
  // loop spin at ACSERVER_TICK_MS=1.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

}  // namespace
