// The send bound of an accepted stream; options set on a listener hold for
// the streams it accepts.
#include "platform/tcp_options.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>

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

// The command server sets its connections' options once, on its listener:
// that holds only as long as the kernel copies them to each accepted socket.
TEST(TcpOptions, AListenersOptionsHoldForEveryStreamItAccepts) {
  std::string error;
  auto listener = platform::TTcpListener::Open(0, 4, &error, /*loopbackOnly=*/true);
  ASSERT_TRUE(listener) << error;
  ASSERT_TRUE(platform::SetNoDelay(*listener, &error)) << error;
  ASSERT_TRUE(platform::SetKeepAlive(*listener, 61, 11, 7, &error)) << error;
  ASSERT_TRUE(platform::SetSendTimeout(*listener, 4000, &error)) << error;

  for (int round = 0; round < 2; ++round) {
    auto client = platform::TTcpStream::Connect({0x7F000001, listener->LocalPort()}, &error);
    ASSERT_TRUE(client) << error;
    auto accepted = listener->Accept();
    ASSERT_TRUE(accepted);
    auto option = [&](int level, int name) {
      int value = -1;
      socklen_t length = sizeof value;
      EXPECT_EQ(::getsockopt(accepted->Fd(), level, name, &value, &length), 0);
      return value;
    };
    EXPECT_NE(option(IPPROTO_TCP, TCP_NODELAY), 0);
    EXPECT_NE(option(SOL_SOCKET, SO_KEEPALIVE), 0);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 61);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), 11);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), 7);
    timeval bound{};
    socklen_t length = sizeof bound;
    ASSERT_EQ(::getsockopt(accepted->Fd(), SOL_SOCKET, SO_SNDTIMEO, &bound, &length), 0);
    EXPECT_EQ(bound.tv_sec, 4);
  }
}

}  // namespace
