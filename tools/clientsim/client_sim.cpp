#include "clientsim/client_sim.h"

#include <chrono>
#include <cstdio>

#include "platform/tcp_connect_from.h"
#include "platform/tcp_options.h"

namespace clientsim {

std::string ConnectLine(const std::string& name, const std::string& identifier, const std::string& check) {
  return "<connect> " + name + " " + identifier + " " + check;
}

std::string DisconnectLine(const std::string& name) { return "<disconnect> " + name; }

std::string UpdateLine(const std::string& name, const std::string& screenState) {
  return "<update> " + name + " " + screenState;
}

std::string BanLine(const std::string& name, const std::string& reason) { return "<ban> " + name + " " + reason; }

std::string PrintableReply(const std::string& reply) {
  std::string text;
  for (unsigned char c : reply) {
    if (c >= 0x20 && c <= 0x7E) {
      text += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<%02X>", c);
      text += hex;
    }
  }
  return text;
}

std::optional<TClientSim> TClientSim::Open(const std::string& host, int port, std::string* error,
                                          const std::string& localAddress) {
  std::optional<uint32_t> address = platform::ParseDottedAddress(host);
  if (!address) {
    if (error) *error = "not an IPv4 address: " + host;
    return std::nullopt;
  }
  platform::Endpoint to{*address, static_cast<uint16_t>(port)};
  std::optional<platform::TTcpStream> stream;
  if (localAddress.empty()) {
    stream = platform::TTcpStream::Connect(to, error);
  } else {
    std::optional<uint32_t> local = platform::ParseDottedAddress(localAddress);
    if (!local) {
      if (error) *error = "not an IPv4 address: " + localAddress;
      return std::nullopt;
    }
    stream = platform::ConnectTcpFrom(to, *local, error);
  }
  if (!stream) return std::nullopt;
  // Each line leaves at once, also right after another one.
  platform::SetNoDelay(*stream, nullptr);
  return TClientSim(std::move(*stream));
}

bool TClientSim::SendLine(const std::string& line) { return stream_.WriteAll(line + "\n"); }

bool TClientSim::SendRaw(const std::string& bytes) { return stream_.WriteAll(bytes); }

ReadStatus TClientSim::ReadLine(std::string& line, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    size_t lineFeed = buffer_.find('\n');
    if (lineFeed != std::string::npos) {
      line = buffer_.substr(0, lineFeed);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      buffer_.erase(0, lineFeed + 1);
      return ReadStatus::Line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return ReadStatus::Timeout;
    char chunk[4096];
    long got = stream_.ReadWithin(chunk, sizeof chunk, static_cast<int>(left.count()));
    if (got == -2) return ReadStatus::Timeout;
    if (got <= 0) return ReadStatus::Closed;
    buffer_.append(chunk, static_cast<size_t>(got));
  }
}

std::optional<std::string> TClientSim::Command(const std::string& line, int timeoutMs) {
  if (!SendLine(line)) return std::nullopt;
  std::string reply;
  if (ReadLine(reply, timeoutMs) != ReadStatus::Line) return std::nullopt;
  return reply;
}

bool TClientSim::WaitClosed(int timeoutMs) {
  if (!buffer_.empty()) return false;
  char chunk[256];
  long got = stream_.ReadWithin(chunk, sizeof chunk, timeoutMs);
  if (got > 0) buffer_.append(chunk, static_cast<size_t>(got));
  return got == 0 || got == -1;
}

}  // namespace clientsim
