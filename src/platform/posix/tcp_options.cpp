#include "platform/tcp_options.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

bool NoDelayOn(int fd, std::string* error) {
  int on = 1;
  if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0) return true;
  if (error) *error = std::string("setsockopt TCP_NODELAY: ") + std::strerror(errno);
  return false;
}

bool KeepAliveOn(int fd, int idleSeconds, int intervalSeconds, int probes, std::string* error) {
  struct Option {
    int Level;
    int Name;
    int Value;
    const char* Text;
  };
  const Option options[] = {{SOL_SOCKET, SO_KEEPALIVE, 1, "SO_KEEPALIVE"},
                            {IPPROTO_TCP, TCP_KEEPIDLE, idleSeconds, "TCP_KEEPIDLE"},
                            {IPPROTO_TCP, TCP_KEEPINTVL, intervalSeconds, "TCP_KEEPINTVL"},
                            {IPPROTO_TCP, TCP_KEEPCNT, probes, "TCP_KEEPCNT"}};
  for (const Option& option : options) {
    if (::setsockopt(fd, option.Level, option.Name, &option.Value, sizeof option.Value) == 0) continue;
    if (error) *error = std::string("setsockopt ") + option.Text + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool SendTimeoutOn(int fd, int timeoutMs, std::string* error) {
  timeval bound{};
  bound.tv_sec = timeoutMs / 1000;
  bound.tv_usec = (timeoutMs % 1000) * 1000;
  if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound) == 0) return true;
  if (error) *error = std::string("setsockopt SO_SNDTIMEO: ") + std::strerror(errno);
  return false;
}

}  // namespace

bool SetNoDelay(TTcpStream& stream, std::string* error) { return NoDelayOn(stream.Fd(), error); }

bool SetKeepAlive(TTcpStream& stream, int idleSeconds, int intervalSeconds, int probes, std::string* error) {
  return KeepAliveOn(stream.Fd(), idleSeconds, intervalSeconds, probes, error);
}

bool SetSendTimeout(TTcpStream& stream, int timeoutMs, std::string* error) {
  return SendTimeoutOn(stream.Fd(), timeoutMs, error);
}

bool SetNoDelay(TTcpListener& listener, std::string* error) { return NoDelayOn(listener.Fd(), error); }

bool SetKeepAlive(TTcpListener& listener, int idleSeconds, int intervalSeconds, int probes, std::string* error) {
  return KeepAliveOn(listener.Fd(), idleSeconds, intervalSeconds, probes, error);
}

bool SetSendTimeout(TTcpListener& listener, int timeoutMs, std::string* error) {
  return SendTimeoutOn(listener.Fd(), timeoutMs, error);
}

}  // namespace platform
