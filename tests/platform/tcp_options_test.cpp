// The send bound of an accepted stream.
#include "platform/tcp_options.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <string>

#include "platform/socket.h"
#include "support/loopback_pair.h"

namespace {

TEST(TcpOptions, AWriteToAPeerThatNeverReadsFailsWithinTheSendBound) {
  std::string error;
  auto pair = testenv::LoopbackPair(&error);
  ASSERT_TRUE(pair) << error;
  platform::TTcpStream* client = &pair->Client;
  platform::TTcpStream* accepted = &pair->Accepted;
  // Small buffers on both sides, so that they fill after a few kilobytes.
  const int small = 4096;
  ::setsockopt(accepted->Fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  ::setsockopt(client->Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  ASSERT_TRUE(platform::SetSendTimeout(*accepted, 200, &error)) << error;

  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(accepted->WriteAll(std::string(4 << 20, 'x'))) << "the client never reads";
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(150));
  EXPECT_LT(took, std::chrono::seconds(2));
}

}  // namespace
