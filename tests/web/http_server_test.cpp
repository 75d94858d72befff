// The HTTP layer's bounds, each as a hostile client would test it: header
// lines without end, a chunked body without end, a head sent a line at a time.
#include "web/http_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <vector>

#include "platform/socket.h"
#include "platform/tcp_connect_from.h"

namespace {

using Clock = std::chrono::steady_clock;

class HttpBounds : public ::testing::Test {
 protected:
  void Start(const THttpLimits& limits) {
    std::string error;
    server_ = THttpServer::Start(0x7F000001, 0, limits,
                                 [](const THttpRequest& request, THttpResponse& response) {
                                   response.Set(200, request.Method + " " + request.Path + " " +
                                                         request.Param("id") + "\n", "text/plain");
                                 },
                                 &error);
    ASSERT_TRUE(server_) << error;
  }
  platform::TTcpStream Connect(uint32_t from = 0x7F000001) {
    std::string error;
    auto stream = platform::ConnectTcpFrom({0x7F000001, server_->Port()}, from, &error);
    EXPECT_TRUE(stream) << error;
    return std::move(*stream);
  }
  // What the server sent until it closed or timeoutMs passed.
  static std::string Answer(platform::TTcpStream& stream, int timeoutMs) {
    std::string text;
    char buffer[4096];
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
      const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
      const long n = stream.ReadWithin(buffer, sizeof buffer, left > 0 ? left : 1);
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
      const size_t head = text.find("\r\n\r\n");
      const size_t length = text.find("Content-Length: ");
      if (head != std::string::npos && length != std::string::npos &&
          text.size() >= head + 4 + std::stoul(text.substr(length + 16))) {
        break;
      }
    }
    return text;
  }
  std::unique_ptr<THttpServer> server_;
};

TEST_F(HttpBounds, EndlessHeadAndBodyAreRefusedEarly) {
  Start(THttpLimits{});
  platform::TTcpStream headers = Connect();
  std::string flood = "GET / HTTP/1.1\r\nHost: x\r\n";
  for (int i = 0; i < 4000; ++i) flood += "X-Pad-" + std::to_string(i) + ": aaaaaaaaaaaaaaaa\r\n";
  headers.WriteAll(flood);  // may fail half-way once the server closed: that is the point
  EXPECT_EQ(Answer(headers, 3000).rfind("HTTP/1.1 431", 0), 0u);

  platform::TTcpStream chunked = Connect();
  std::string body = "POST /x HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; i < 64; ++i) body += "400\r\n" + std::string(1024, 'b') + "\r\n";
  chunked.WriteAll(body);
  char byte;
  EXPECT_NE(chunked.ReadWithin(&byte, 1, 3000), -2) << "closed at the bound, not read on";

  platform::TTcpStream declared = Connect();
  declared.WriteAll("POST /x HTTP/1.1\r\nHost: x\r\nContent-Length: 100000000\r\n\r\n");
  EXPECT_EQ(Answer(declared, 3000).rfind("HTTP/1.1 413", 0), 0u);

  platform::TTcpStream form = Connect();
  form.WriteAll("POST /lift HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                "Content-Length: 8\r\n\r\nid=a%20b");
  EXPECT_NE(Answer(form, 3000).find("POST /lift a b"), std::string::npos);
}

// (A crowd of silent connections is tried against the real program, in
// web_api_test.cpp.)
TEST_F(HttpBounds, SlowHeadIsCut) {
  THttpLimits limits;
  limits.HeadSeconds = 1;
  Start(limits);
  platform::TTcpStream slow = Connect(0x7F000002);
  slow.WriteAll("GET / HTTP/1.1\r\n");
  const auto started = Clock::now();
  bool closed = false;
  for (int i = 0; i < 20 && !closed; ++i) {
    slow.WriteAll("X-" + std::to_string(i) + ": y\r\n");
    char byte;
    closed = slow.ReadWithin(&byte, 1, 300) != -2;
  }
  EXPECT_TRUE(closed) << "a head sent a line at a time is cut off";
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(4));
}

}  // namespace
