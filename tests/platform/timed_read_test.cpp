// Reads bounded by the socket's own receive time-out.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/socket.h"
#include "support/loopback_pair.h"

namespace {

// A wait set long by one read must not outlive a shorter bound asked for by
// the next: that is what keeps a connection's idle bound when its deadline
// comes closer than the time-out left on the socket.
TEST(TimedRead, EachWaitEndsByItsOwnBoundAndDataAndTheEndComeThrough) {
  std::string error;
  auto pair = testenv::LoopbackPair(&error);
  ASSERT_TRUE(pair) << error;
  platform::TTcpStream* client = &pair->Client;
  platform::TTcpStream* accepted = &pair->Accepted;
  char buffer[64];

  ASSERT_TRUE(client->WriteAll("<update> a 1\n"));
  EXPECT_EQ(accepted->ReadTimed(buffer, sizeof buffer, 5000), 13);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(accepted->ReadTimed(buffer, sizeof buffer, 100), -2);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(90));
  EXPECT_LT(took, std::chrono::seconds(2)) << "the 5 s wait of the read before was still in force";

  client->Close();
  EXPECT_EQ(accepted->ReadTimed(buffer, sizeof buffer, 5000), 0);
}

}  // namespace
