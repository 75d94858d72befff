// The raw socket calls of the program on Windows (Winsock 2), behind the
// types of socket.h.
//
// Winsock's shutdown wakes no thread blocked in accept, recv or recvfrom, and
// closing the socket under a blocked thread would let the handle become
// another socket's before that thread's next call. So every wait here is a
// WSAPoll on the socket beside a wake of the waiting thread (a loopback UDP
// socket of its own), and Shutdown marks the socket shut and signals the wake
// of each thread that waits on it. The mark is kept by handle until Close.
#include "platform/socket.h"

#include "platform/mutex.h"
#include "platform/sockaddr_ipv4.h"
#include "platform/socket_system.h"
#include "platform/windows/winsock.h"

#include <mswsock.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace platform {
namespace {

SOCKET Native(SocketHandle handle) { return static_cast<SOCKET>(handle); }

std::string CallError(const std::string& what, int code) { return what + ": " + winsock::ErrorText(code); }

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

int Clamped(size_t size) { return static_cast<int>(std::min<size_t>(size, INT_MAX)); }

uint16_t LocalPortOf(SocketHandle fd) {
  sockaddr_in addr{};
  int len = sizeof addr;
  if (fd < 0 || ::getsockname(Native(fd), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

// A new socket that no child process inherits (as SOCK_CLOEXEC on Linux),
// overlapped as socket() makes them, so that SO_SNDTIMEO holds; -1 with the
// error in WSAGetLastError.
SocketHandle NewSocket(int type, int protocol) {
  winsock::Start();
  const SOCKET s =
      ::WSASocketW(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  return s == INVALID_SOCKET ? -1 : static_cast<SocketHandle>(s);
}

bool SetBlocking(SocketHandle fd, bool blocking) {
  u_long nonBlocking = blocking ? 0 : 1;
  return ::ioctlsocket(Native(fd), FIONBIO, &nonBlocking) == 0;
}

// What Shutdown left on a socket: the mark, and the wakes of the threads
// waiting on it meanwhile.
struct TSocketState {
  bool Shut = false;
  std::vector<SocketHandle> Waiters;
};

TMutex statesLock;
std::unordered_map<SocketHandle, TSocketState> states GUARDED_BY(statesLock);

// The wake of this thread's waits: made at its first wait, closed with the thread.
struct TThreadWake {
  SocketHandle Socket = -1;
  bool Tried = false;
  ~TThreadWake() {
    if (Socket >= 0) ::closesocket(Native(Socket));
  }
};

SocketHandle ThreadWake() {
  thread_local TThreadWake wake;
  if (!wake.Tried) {
    wake.Tried = true;
    wake.Socket = winsock::NewWake();
  }
  return wake.Socket;
}

enum class TWaitEnd { Ready, Quiet, Shut, Failed };

// Waits until fd is readable (or has an error or hang-up), or is shut down,
// or extra (when not -1: the stop's wake) is readable, or timeoutMs passes
// (-1: no bound). Quiet for the time-out and for extra; Failed with the error
// in WSAGetLastError.
TWaitEnd WaitReadable(SocketHandle fd, int timeoutMs, SocketHandle extra = -1) {
  const SocketHandle wake = ThreadWake();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (;;) {
    {
      TMutexLock guard(statesLock);
      TSocketState& state = states[fd];
      if (state.Shut) return TWaitEnd::Shut;
      if (wake >= 0) state.Waiters.push_back(wake);
    }
    WSAPOLLFD fds[3] = {};
    ULONG count = 0;
    fds[count++] = {Native(fd), POLLRDNORM, 0};
    const ULONG wakeAt = count;
    if (wake >= 0) fds[count++] = {Native(wake), POLLRDNORM, 0};
    const ULONG extraAt = count;
    if (extra >= 0) fds[count++] = {Native(extra), POLLRDNORM, 0};
    int left = -1;
    if (timeoutMs >= 0) {
      const auto rest =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      left = static_cast<int>(std::max<decltype(rest)>(rest, 0));
    }
    const int rc = ::WSAPoll(fds, count, left);
    const int pollError = rc == SOCKET_ERROR ? ::WSAGetLastError() : 0;
    bool shut = false;
    {
      TMutexLock guard(statesLock);
      TSocketState& state = states[fd];
      const auto mine = std::find(state.Waiters.begin(), state.Waiters.end(), wake);
      if (mine != state.Waiters.end()) state.Waiters.erase(mine);
      shut = state.Shut;
    }
    if (rc == SOCKET_ERROR) {
      ::WSASetLastError(pollError);
      return TWaitEnd::Failed;
    }
    if (wake >= 0 && fds[wakeAt].revents != 0) winsock::DrainWake(wake);
    if (shut) return TWaitEnd::Shut;
    // An invalid socket counts as ready: the call that follows says why.
    if ((fds[0].revents & (POLLRDNORM | POLLERR | POLLHUP | POLLNVAL)) != 0) return TWaitEnd::Ready;
    if (extra >= 0 && fds[extraAt].revents != 0) return TWaitEnd::Quiet;
    if (rc == 0) return TWaitEnd::Quiet;
    // Only a wake signalled for an earlier wait of this thread: wait on.
    if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) return TWaitEnd::Quiet;
  }
}

// Waits as WaitReadable does, then reads: the count, 0 at the end (or once
// shut down), -1 on an error, -2 on the time-out.
long ReadWhenReady(SocketHandle fd, char* buffer, size_t size, int timeoutMs) {
  switch (WaitReadable(fd, timeoutMs)) {
    case TWaitEnd::Failed:
      return -1;
    case TWaitEnd::Quiet:
      return -2;
    case TWaitEnd::Shut:
      return 0;
    case TWaitEnd::Ready:
      break;
  }
  const int got = ::recv(Native(fd), buffer, Clamped(size), 0);
  if (got == SOCKET_ERROR) return ::WSAGetLastError() == WSAEWOULDBLOCK ? -2 : -1;
  return got;
}

}  // namespace

namespace winsock {

void Start() {
  static std::once_flag started;
  std::call_once(started, [] {
    WSADATA data{};
    ::WSAStartup(MAKEWORD(2, 2), &data);
  });
}

std::string ErrorText(int code) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
          FORMAT_MESSAGE_MAX_WIDTH_MASK,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string utf8;
  if (length > 0 && text != nullptr) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (size > 0) {
      utf8.resize(static_cast<size_t>(size));
      ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), utf8.data(), size, nullptr, nullptr);
    }
  }
  if (text != nullptr) ::LocalFree(text);
  while (!utf8.empty() && (utf8.back() == ' ' || utf8.back() == '.' || utf8.back() == '\r' || utf8.back() == '\n')) {
    utf8.pop_back();
  }
  const std::string number = "(" + std::to_string(code) + ")";
  return utf8.empty() ? "error " + number : utf8 + " " + number;
}

SocketHandle NewWake() {
  const SocketHandle wake = NewSocket(SOCK_DGRAM, IPPROTO_UDP);
  if (wake < 0) return -1;
  sockaddr_in self = ToSockaddr(Endpoint{0x7F000001, 0});
  int len = sizeof self;
  if (::bind(Native(wake), reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
      ::getsockname(Native(wake), reinterpret_cast<sockaddr*>(&self), &len) != 0 ||
      ::connect(Native(wake), reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 || !SetBlocking(wake, false)) {
    ::closesocket(Native(wake));
    return -1;
  }
  return wake;
}

void SignalWake(SocketHandle wake) {
  const char byte = 1;
  if (wake >= 0) ::send(Native(wake), &byte, 1, 0);
}

void DrainWake(SocketHandle wake) {
  char buffer[64];
  while (wake >= 0 && ::recv(Native(wake), buffer, sizeof buffer, 0) > 0) {
  }
}

}  // namespace winsock

namespace socket_system {

std::optional<uint32_t> Resolve(const std::string& host, std::string* error) {
  winsock::Start();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* result = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
  if (rc != 0 || result == nullptr) {
    SetError(error, "getaddrinfo " + host + ": " + winsock::ErrorText(rc));
    return std::nullopt;
  }
  sockaddr_in addr{};
  std::memcpy(&addr, result->ai_addr, sizeof addr);
  ::freeaddrinfo(result);
  return ntohl(addr.sin_addr.s_addr);
}

std::optional<TTcpStream> ConnectStream(const Endpoint& to, std::optional<uint32_t> localAddress,
                                        std::string* error) {
  TSocket socket(NewSocket(SOCK_STREAM, IPPROTO_TCP));
  if (!socket.Valid()) {
    SetError(error, CallError("socket", ::WSAGetLastError()));
    return std::nullopt;
  }
  if (localAddress) {
    sockaddr_in local = ToSockaddr(Endpoint{*localAddress, 0});
    if (::bind(Native(socket.Fd()), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      SetError(error, CallError("bind " + DottedAddress(*localAddress), ::WSAGetLastError()));
      return std::nullopt;
    }
  }
  sockaddr_in addr = ToSockaddr(to);
  if (::connect(Native(socket.Fd()), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    SetError(error, CallError("connect " + EndpointText(to), ::WSAGetLastError()));
    return std::nullopt;
  }
  return TTcpStream(std::move(socket), to);
}

}  // namespace socket_system

void ShutdownSocket(SocketHandle socket) { ::shutdown(Native(socket), SD_BOTH); }

void TSocket::Close() {
  if (fd_ < 0) return;
  winsock::ForgetListenerOptions(fd_);
  // The mark goes with the socket, under the lock, so that a socket that gets
  // the handle next starts unmarked.
  TMutexLock guard(statesLock);
  states.erase(fd_);
  ::closesocket(Native(fd_));
  fd_ = -1;
}

void TSocket::Shutdown() {
  if (fd_ < 0) return;
  TMutexLock guard(statesLock);
  TSocketState& state = states[fd_];
  state.Shut = true;
  for (const SocketHandle wake : state.Waiters) winsock::SignalWake(wake);
  ::shutdown(Native(fd_), SD_BOTH);
}

std::optional<TUdpSocket> TUdpSocket::Open(std::string* error) {
  TSocket socket(NewSocket(SOCK_DGRAM, IPPROTO_UDP));
  if (!socket.Valid()) {
    SetError(error, CallError("socket", ::WSAGetLastError()));
    return std::nullopt;
  }
  // Windows reports a port-unreachable answer to an earlier send as an error
  // of the next receive; Linux does not on an unconnected socket, and a
  // client gone away must not fail the receive of the next one's datagram.
  BOOL report = FALSE;
  DWORD returned = 0;
  ::WSAIoctl(Native(socket.Fd()), SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
  return TUdpSocket(std::move(socket));
}

bool TUdpSocket::BindTo(const Endpoint& local, std::string* error) {
  sockaddr_in addr = ToSockaddr(local);
  if (::bind(Native(socket_.Fd()), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    SetError(error, CallError("bind " + EndpointText(local), ::WSAGetLastError()));
    return false;
  }
  return true;
}

uint16_t TUdpSocket::LocalPort() const { return LocalPortOf(socket_.Fd()); }

bool TUdpSocket::SendTo(const std::string& data, const Endpoint& to, std::string* error) {
  sockaddr_in addr = ToSockaddr(to);
  if (::sendto(Native(socket_.Fd()), data.data(), Clamped(data.size()), 0, reinterpret_cast<sockaddr*>(&addr),
               sizeof addr) == SOCKET_ERROR) {
    SetError(error, CallError("sendto " + EndpointText(to), ::WSAGetLastError()));
    return false;
  }
  return true;
}

ReceiveStatus TUdpSocket::Receive(std::string& data, Endpoint& from, int timeoutMs, size_t maxBytes,
                                  std::string* error, SocketHandle wakeFd) {
  data.clear();
  switch (WaitReadable(socket_.Fd(), timeoutMs, wakeFd)) {
    case TWaitEnd::Failed:
      SetError(error, CallError("WSAPoll", ::WSAGetLastError()));
      return ReceiveStatus::Error;
    case TWaitEnd::Quiet:
      return ReceiveStatus::Timeout;
    case TWaitEnd::Shut:
      // As a shut-down socket reads on Linux: an empty datagram from nowhere.
      from = Endpoint{};
      return ReceiveStatus::Datagram;
    case TWaitEnd::Ready:
      break;
  }
  // One buffer per thread, kept between receives (see posix/socket.cpp).
  thread_local std::vector<char> buffer;
  if (buffer.size() < maxBytes + 1) buffer.resize(maxBytes + 1);
  sockaddr_in addr{};
  int len = sizeof addr;
  const int got = ::recvfrom(Native(socket_.Fd()), buffer.data(), Clamped(buffer.size()), 0,
                             reinterpret_cast<sockaddr*>(&addr), &len);
  if (got == SOCKET_ERROR) {
    const int code = ::WSAGetLastError();
    // A datagram longer than the buffer fails the receive (and is dropped)
    // where Linux reports its length.
    if (code == WSAEMSGSIZE) {
      from = FromSockaddr(addr);
      return ReceiveStatus::TooLong;
    }
    SetError(error, CallError("recvfrom", code));
    return ReceiveStatus::Error;
  }
  from = FromSockaddr(addr);
  if (static_cast<size_t>(got) > maxBytes) return ReceiveStatus::TooLong;
  data.assign(buffer.data(), static_cast<size_t>(got));
  return ReceiveStatus::Datagram;
}

long TTcpStream::Read(char* buffer, size_t size) {
  for (;;) {
    const long got = ReadWhenReady(socket_.Fd(), buffer, size, -1);
    if (got != -2) return got;
  }
}

long TTcpStream::ReadWithin(char* buffer, size_t size, int timeoutMs) {
  return ReadWhenReady(socket_.Fd(), buffer, size, timeoutMs);
}

long TTcpStream::ReadTimed(char* buffer, size_t size, int timeoutMs) {
  return ReadWhenReady(socket_.Fd(), buffer, size, std::max(timeoutMs, 1));
}

bool TTcpStream::WriteAll(const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const int sent = ::send(Native(socket_.Fd()), data.data() + done, Clamped(data.size() - done), 0);
    if (sent <= 0) return false;
    done += static_cast<size_t>(sent);
  }
  return true;
}

// No SO_REUSEADDR: on Windows it lets another socket take the port while this
// one listens, and a restart is not refused by connections in TIME_WAIT
// without it. The listener does not block, so that an accept after a wait
// never hangs on a connection that went away in between.
std::optional<TTcpListener> TTcpListener::Open(uint16_t port, int backlog, std::string* error, bool loopbackOnly) {
  TSocket socket(NewSocket(SOCK_STREAM, IPPROTO_TCP));
  if (!socket.Valid()) {
    SetError(error, CallError("socket", ::WSAGetLastError()));
    return std::nullopt;
  }
  Endpoint local{loopbackOnly ? 0x7F000001u : 0u, port};
  sockaddr_in addr = ToSockaddr(local);
  if (::bind(Native(socket.Fd()), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    SetError(error, CallError("bind " + EndpointText(local), ::WSAGetLastError()));
    return std::nullopt;
  }
  if (::listen(Native(socket.Fd()), backlog) != 0 || !SetBlocking(socket.Fd(), false)) {
    SetError(error, CallError("listen " + EndpointText(local), ::WSAGetLastError()));
    return std::nullopt;
  }
  return TTcpListener(std::move(socket));
}

std::optional<TTcpStream> TTcpListener::Accept() {
  for (;;) {
    switch (WaitReadable(socket_.Fd(), -1)) {
      case TWaitEnd::Failed:
      case TWaitEnd::Shut:
        return std::nullopt;
      case TWaitEnd::Quiet:
        continue;
      case TWaitEnd::Ready:
        break;
    }
    sockaddr_in addr{};
    int len = sizeof addr;
    const SOCKET accepted = ::accept(Native(socket_.Fd()), reinterpret_cast<sockaddr*>(&addr), &len);
    if (accepted != INVALID_SOCKET) {
      TSocket socket(static_cast<SocketHandle>(accepted));
      // It took the listener's non-blocking mode; its reads and writes block.
      SetBlocking(socket.Fd(), true);
      winsock::ApplyListenerOptions(socket_.Fd(), socket.Fd());
      return TTcpStream(std::move(socket), FromSockaddr(addr));
    }
    // A connection that went away before accept: wait for the next.
    const int code = ::WSAGetLastError();
    if (code == WSAEWOULDBLOCK || code == WSAECONNRESET || code == WSAEINTR || code == WSAEINPROGRESS) continue;
    return std::nullopt;
  }
}

uint16_t TTcpListener::LocalPort() const { return LocalPortOf(socket_.Fd()); }

}  // namespace platform
