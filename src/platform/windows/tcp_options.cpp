// TCP options on Windows. Keep-alive's timing is SIO_KEEPALIVE_VALS (every
// Windows), its probe count TCP_KEEPCNT (Windows 10 1703 and later; before it,
// ten probes, and the call fails as the header says). A listener's options
// are kept and set on each stream it accepts (winsock.h).
#include "platform/tcp_options.h"

#include "platform/mutex.h"
#include "platform/windows/winsock.h"

#include <mstcpip.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <optional>
#include <unordered_map>

#ifndef TCP_KEEPCNT
#define TCP_KEEPCNT 16  // ws2ipdef.h of newer SDKs
#endif

namespace platform {
namespace {

SOCKET Native(SocketHandle handle) { return static_cast<SOCKET>(handle); }

bool Fail(std::string* error, const char* what) {
  if (error) *error = std::string(what) + ": " + winsock::ErrorText(::WSAGetLastError());
  return false;
}

bool NoDelayOn(SocketHandle fd, std::string* error) {
  const BOOL on = TRUE;
  if (::setsockopt(Native(fd), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on) == 0) {
    return true;
  }
  return Fail(error, "setsockopt TCP_NODELAY");
}

bool KeepAliveOn(SocketHandle fd, int idleSeconds, int intervalSeconds, int probes, std::string* error) {
  const BOOL on = TRUE;
  if (::setsockopt(Native(fd), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on) != 0) {
    return Fail(error, "setsockopt SO_KEEPALIVE");
  }
  tcp_keepalive timing{};
  timing.onoff = 1;
  timing.keepalivetime = static_cast<u_long>(std::max(idleSeconds, 0)) * 1000;
  timing.keepaliveinterval = static_cast<u_long>(std::max(intervalSeconds, 0)) * 1000;
  DWORD returned = 0;
  if (::WSAIoctl(Native(fd), SIO_KEEPALIVE_VALS, &timing, sizeof timing, nullptr, 0, &returned, nullptr, nullptr) !=
      0) {
    return Fail(error, "WSAIoctl SIO_KEEPALIVE_VALS");
  }
  const DWORD count = static_cast<DWORD>(std::max(probes, 0));
  if (::setsockopt(Native(fd), IPPROTO_TCP, TCP_KEEPCNT, reinterpret_cast<const char*>(&count), sizeof count) != 0) {
    return Fail(error, "setsockopt TCP_KEEPCNT");
  }
  return true;
}

bool SendTimeoutOn(SocketHandle fd, int timeoutMs, std::string* error) {
  const DWORD bound = static_cast<DWORD>(std::max(timeoutMs, 0));  // 0: none, as on Linux
  if (::setsockopt(Native(fd), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&bound), sizeof bound) == 0) {
    return true;
  }
  return Fail(error, "setsockopt SO_SNDTIMEO");
}

// What was set on a listener, for the streams it accepts.
struct TListenerOptions {
  bool NoDelay = false;
  struct TKeepAlive {
    int IdleSeconds;
    int IntervalSeconds;
    int Probes;
  };
  std::optional<TKeepAlive> KeepAlive;
  std::optional<int> SendTimeoutMs;
};

TMutex optionsLock;
std::unordered_map<SocketHandle, TListenerOptions> listenerOptions GUARDED_BY(optionsLock);

}  // namespace

namespace winsock {

// Failures are not reported: on Linux the stream would have taken the
// options without a call of its own, and the listener's setters said what
// they could.
void ApplyListenerOptions(SocketHandle listener, SocketHandle accepted) {
  TListenerOptions options;
  {
    TMutexLock guard(optionsLock);
    const auto found = listenerOptions.find(listener);
    if (found == listenerOptions.end()) return;
    options = found->second;
  }
  if (options.NoDelay) NoDelayOn(accepted, nullptr);
  if (options.KeepAlive) {
    KeepAliveOn(accepted, options.KeepAlive->IdleSeconds, options.KeepAlive->IntervalSeconds,
                options.KeepAlive->Probes, nullptr);
  }
  if (options.SendTimeoutMs) SendTimeoutOn(accepted, *options.SendTimeoutMs, nullptr);
}

void ForgetListenerOptions(SocketHandle socket) {
  TMutexLock guard(optionsLock);
  listenerOptions.erase(socket);
}

}  // namespace winsock

bool SetNoDelay(TTcpStream& stream, std::string* error) { return NoDelayOn(stream.Fd(), error); }

bool SetKeepAlive(TTcpStream& stream, int idleSeconds, int intervalSeconds, int probes, std::string* error) {
  return KeepAliveOn(stream.Fd(), idleSeconds, intervalSeconds, probes, error);
}

bool SetSendTimeout(TTcpStream& stream, int timeoutMs, std::string* error) {
  return SendTimeoutOn(stream.Fd(), timeoutMs, error);
}

// On the listener itself too, so that a failing option is reported here as
// on Linux; each accepted stream then gets it from ApplyListenerOptions.
bool SetNoDelay(TTcpListener& listener, std::string* error) {
  if (!NoDelayOn(listener.Fd(), error)) return false;
  TMutexLock guard(optionsLock);
  listenerOptions[listener.Fd()].NoDelay = true;
  return true;
}

bool SetKeepAlive(TTcpListener& listener, int idleSeconds, int intervalSeconds, int probes, std::string* error) {
  {
    TMutexLock guard(optionsLock);
    listenerOptions[listener.Fd()].KeepAlive = TListenerOptions::TKeepAlive{idleSeconds, intervalSeconds, probes};
  }
  return KeepAliveOn(listener.Fd(), idleSeconds, intervalSeconds, probes, error);
}

bool SetSendTimeout(TTcpListener& listener, int timeoutMs, std::string* error) {
  if (!SendTimeoutOn(listener.Fd(), timeoutMs, error)) return false;
  TMutexLock guard(optionsLock);
  listenerOptions[listener.Fd()].SendTimeoutMs = timeoutMs;
  return true;
}

}  // namespace platform
