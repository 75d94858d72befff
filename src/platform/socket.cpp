// What the socket types do the same on every system: address texts, the
// resolver hook, ownership. The system calls are in posix/socket.cpp and
// windows/socket.cpp.
#include "platform/socket.h"

#include <atomic>
#include <cstddef>
#include <cstring>

#include "platform/sockaddr_ipv4.h"
#include "platform/socket_system.h"
#include "platform/stop_signal.h"

namespace platform {
namespace {

std::atomic<ResolverFn> resolver{nullptr};

}  // namespace

std::string DottedAddress(uint32_t address) {
  return std::to_string((address >> 24) & 255) + "." + std::to_string((address >> 16) & 255) + "." +
         std::to_string((address >> 8) & 255) + "." + std::to_string(address & 255);
}

std::string EndpointText(const Endpoint& endpoint) {
  return DottedAddress(endpoint.Address) + ":" + std::to_string(endpoint.Port);
}

// Exactly four decimal parts of 0..255, without leading zeros or anything
// around them: what inet_pton accepts for AF_INET, read the same way on every
// system (the text ends at a NUL, as the C call sees it).
std::optional<uint32_t> ParseDottedAddress(const std::string& text) {
  uint32_t address = 0;
  uint32_t part = 0;
  int parts = 0;
  bool inPart = false;
  for (const char* c = text.c_str(); *c != '\0'; ++c) {
    if (*c >= '0' && *c <= '9') {
      if (inPart && part == 0) return std::nullopt;  // a leading zero
      part = part * 10 + static_cast<uint32_t>(*c - '0');
      if (part > 255) return std::nullopt;
      if (!inPart) {
        if (++parts > 4) return std::nullopt;
        inPart = true;
      }
    } else if (*c == '.' && inPart && parts < 4) {
      address = (address << 8) | part;
      part = 0;
      inPart = false;
    } else {
      return std::nullopt;
    }
  }
  if (parts < 4 || !inPart) return std::nullopt;
  return (address << 8) | part;
}

std::optional<uint32_t> ResolveIpv4(const std::string& host, std::string* error) {
  ResolverFn fn = resolver.load();
  if (fn) return fn(host, error);
  if (auto dotted = ParseDottedAddress(host)) return dotted;
  return socket_system::Resolve(host, error);
}

void SetResolverForTesting(ResolverFn fn) { resolver.store(fn); }

TSocket::~TSocket() { Close(); }

TSocket::TSocket(TSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

TSocket& TSocket::operator=(TSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

bool TUdpSocket::Bind(uint16_t port, std::string* error, bool loopbackOnly) {
  return BindTo(Endpoint{loopbackOnly ? 0x7F000001u : 0u, port}, error);
}

ReceiveStatus TUdpSocket::ReceiveFrom(std::string& data, Endpoint& from, int timeoutMs, size_t maxBytes,
                                      std::string* error) {
  return Receive(data, from, timeoutMs, maxBytes, error, -1);
}

ReceiveStatus TUdpSocket::ReceiveFromUnlessStopped(std::string& data, Endpoint& from, int timeoutMs,
                                                   size_t maxBytes, std::string* error) {
  if (StopRequested()) {
    data.clear();
    return ReceiveStatus::Timeout;
  }
  return Receive(data, from, timeoutMs, maxBytes, error, StopWakeFd());
}

std::optional<TTcpStream> TTcpStream::Connect(const Endpoint& to, std::string* error) {
  return socket_system::ConnectStream(to, std::nullopt, error);
}

TSystemAddress SystemAddressOf(const Endpoint& endpoint) {
  static_assert(sizeof(sockaddr_in) == sizeof(TSystemAddress::Bytes));
  const sockaddr_in addr = ToSockaddr(endpoint);
  TSystemAddress system;
  std::memcpy(system.Bytes, &addr, sizeof addr);
  return system;
}

std::optional<uint32_t> Ipv4AddressOf(const void* systemAddress) {
  if (systemAddress == nullptr) return std::nullopt;
  decltype(sockaddr::sa_family) family = 0;
  std::memcpy(&family, static_cast<const char*>(systemAddress) + offsetof(sockaddr, sa_family), sizeof family);
  if (family != AF_INET) return std::nullopt;
  sockaddr_in addr{};
  std::memcpy(&addr, systemAddress, sizeof addr);
  return FromSockaddr(addr).Address;
}

}  // namespace platform
