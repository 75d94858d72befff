#include "platform/tcp_options.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace platform {

bool SetNoDelay(TTcpStream& stream, std::string* error) {
  int on = 1;
  if (::setsockopt(stream.Fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0) return true;
  if (error) *error = std::string("setsockopt TCP_NODELAY: ") + std::strerror(errno);
  return false;
}

}  // namespace platform
