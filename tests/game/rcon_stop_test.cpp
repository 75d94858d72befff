// An orderly stop in the middle of a remote-console exchange.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "game/game_fixture.h"
#include "platform/stop_signal.h"

namespace {

using RconStop = GameFixture;

TEST_F(RconStop, AStopEndsTheWaitAndSendsNoCommand) {
  Timing.RconWaitMs = 5000;  // long enough that only the stop can end it in time
  sim_.SetSilent(true);
  TServer& server = Server();
  const size_t before = sim_.Datagrams().size();
  auto exchange = std::async(std::launch::async, [&] { return server.RconCommand("zelk_stat 1"); });
  ASSERT_TRUE(sim_.WaitForDatagrams(before + 1, 5000)) << "the challenge request went out";
  platform::RequestStop();
  ASSERT_EQ(exchange.wait_for(std::chrono::seconds(2)), std::future_status::ready);
  EXPECT_EQ(exchange.get(), "");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(sim_.Datagrams().size(), before + 1) << "no command datagram with an empty challenge";
  platform::ResetStopForTesting();
}

}  // namespace
