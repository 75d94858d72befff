// The raw socket calls of the program on POSIX, behind the types of socket.h.
#include "platform/socket.h"
#include "platform/sockaddr_ipv4.h"
#include "platform/socket_system.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace platform {
namespace {

std::string CallError(const std::string& what, int err) { return what + ": " + std::strerror(err); }

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

uint16_t LocalPortOf(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (fd < 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

// Waits until fd is readable, or wakeFd (when not -1) is. 1 fd ready, 0
// time-out or woken, -1 error.
int WaitReadable(int fd, int timeoutMs, int wakeFd = -1) {
  pollfd pfds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
  for (;;) {
    int rc = poll(pfds, wakeFd >= 0 ? 2 : 1, timeoutMs);
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return -1;
    return (pfds[0].revents & (POLLIN | POLLERR | POLLHUP)) ? 1 : 0;
  }
}

}  // namespace

namespace socket_system {

std::optional<uint32_t> Resolve(const std::string& host, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* result = nullptr;
  int rc = getaddrinfo(host.c_str(), nullptr, &hints, &result);
  if (rc != 0 || result == nullptr) {
    SetError(error, "getaddrinfo " + host + ": " + gai_strerror(rc));
    return std::nullopt;
  }
  uint32_t address = ntohl(reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr);
  freeaddrinfo(result);
  return address;
}

std::optional<TTcpStream> ConnectStream(const Endpoint& to, std::optional<uint32_t> localAddress,
                                        std::string* error) {
  TSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.Valid()) {
    SetError(error, CallError("socket", errno));
    return std::nullopt;
  }
  if (localAddress) {
    sockaddr_in local = ToSockaddr(Endpoint{*localAddress, 0});
    if (::bind(socket.Fd(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      SetError(error, CallError("bind " + DottedAddress(*localAddress), errno));
      return std::nullopt;
    }
  }
  sockaddr_in addr = ToSockaddr(to);
  int rc;
  do {
    rc = ::connect(socket.Fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    SetError(error, CallError("connect " + EndpointText(to), errno));
    return std::nullopt;
  }
  return TTcpStream(std::move(socket), to);
}

}  // namespace socket_system

void ShutdownSocket(int socket) { ::shutdown(socket, SHUT_RDWR); }

void TSocket::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

void TSocket::Shutdown() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

std::optional<TUdpSocket> TUdpSocket::Open(std::string* error) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    SetError(error, CallError("socket", errno));
    return std::nullopt;
  }
  return TUdpSocket(TSocket(fd));
}

bool TUdpSocket::BindTo(const Endpoint& local, std::string* error) {
  sockaddr_in addr = ToSockaddr(local);
  if (::bind(socket_.Fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    SetError(error, CallError("bind " + EndpointText(local), errno));
    return false;
  }
  return true;
}

uint16_t TUdpSocket::LocalPort() const { return LocalPortOf(socket_.Fd()); }

bool TUdpSocket::SendTo(const std::string& data, const Endpoint& to, std::string* error) {
  sockaddr_in addr = ToSockaddr(to);
  ssize_t sent;
  do {
    sent = ::sendto(socket_.Fd(), data.data(), data.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr),
                    sizeof addr);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) {
    SetError(error, CallError("sendto " + EndpointText(to), errno));
    return false;
  }
  return true;
}

ReceiveStatus TUdpSocket::Receive(std::string& data, Endpoint& from, int timeoutMs, size_t maxBytes,
                                  std::string* error, int wakeFd) {
  data.clear();
  int ready = WaitReadable(socket_.Fd(), timeoutMs, wakeFd);
  if (ready < 0) {
    SetError(error, CallError("poll", errno));
    return ReceiveStatus::Error;
  }
  if (ready == 0) return ReceiveStatus::Timeout;
  // One buffer per thread, kept between receives: the screen receiver reads a
  // datagram per 30-byte piece, and a fresh zeroed 8 KiB buffer each time would
  // be most of its work.
  thread_local std::vector<char> buffer;
  if (buffer.size() < maxBytes + 1) buffer.resize(maxBytes + 1);
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  // MSG_TRUNC makes recvfrom return the datagram's real length, so a datagram
  // longer than the buffer is told apart from one that just fits.
  ssize_t got;
  do {
    got = ::recvfrom(socket_.Fd(), buffer.data(), buffer.size(), MSG_TRUNC, reinterpret_cast<sockaddr*>(&addr),
                     &len);
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    SetError(error, CallError("recvfrom", errno));
    return ReceiveStatus::Error;
  }
  from = FromSockaddr(addr);
  if (static_cast<size_t>(got) > maxBytes) return ReceiveStatus::TooLong;
  data.assign(buffer.data(), static_cast<size_t>(got));
  return ReceiveStatus::Datagram;
}

long TTcpStream::Read(char* buffer, size_t size) {
  ssize_t got;
  do {
    got = ::recv(socket_.Fd(), buffer, size, 0);
  } while (got < 0 && errno == EINTR);
  return static_cast<long>(got);
}

long TTcpStream::ReadWithin(char* buffer, size_t size, int timeoutMs) {
  int ready = WaitReadable(socket_.Fd(), timeoutMs);
  if (ready < 0) return -1;
  if (ready == 0) return -2;
  return Read(buffer, size);
}

long TTcpStream::ReadTimed(char* buffer, size_t size, int timeoutMs) {
  timeoutMs = std::max(timeoutMs, 1);  // 0 would mean no time-out at all
  if (receiveTimeoutMs_ == 0 || receiveTimeoutMs_ > timeoutMs + kReceiveTimeoutSlackMs ||
      receiveTimeoutMs_ < timeoutMs - timeoutMs / 8) {
    timeval bound{};
    bound.tv_sec = timeoutMs / 1000;
    bound.tv_usec = (timeoutMs % 1000) * 1000;
    if (::setsockopt(socket_.Fd(), SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound) != 0) return -1;
    receiveTimeoutMs_ = timeoutMs;
  }
  const ssize_t got = ::recv(socket_.Fd(), buffer, size, 0);
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return -2;
  return static_cast<long>(got);
}

bool TTcpStream::WriteAll(const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t sent = ::send(socket_.Fd(), data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    done += static_cast<size_t>(sent);
  }
  return true;
}

std::optional<TTcpListener> TTcpListener::Open(uint16_t port, int backlog, std::string* error, bool loopbackOnly) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    SetError(error, CallError("socket", errno));
    return std::nullopt;
  }
  TSocket socket(fd);
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  Endpoint local{loopbackOnly ? INADDR_LOOPBACK : INADDR_ANY, port};
  sockaddr_in addr = ToSockaddr(local);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    SetError(error, CallError("bind " + EndpointText(local), errno));
    return std::nullopt;
  }
  if (::listen(fd, backlog) != 0) {
    SetError(error, CallError("listen " + EndpointText(local), errno));
    return std::nullopt;
  }
  return TTcpListener(std::move(socket));
}

std::optional<TTcpStream> TTcpListener::Accept() {
  for (;;) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    int fd = ::accept4(socket_.Fd(), reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
    if (fd >= 0) return TTcpStream(TSocket(fd), FromSockaddr(addr));
    // A connection that went away before accept, or a signal: try again.
    if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO) continue;
    return std::nullopt;
  }
}

uint16_t TTcpListener::LocalPort() const { return LocalPortOf(socket_.Fd()); }

}  // namespace platform
