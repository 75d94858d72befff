#include "platform/tcp_connect_from.h"

#include "platform/socket_system.h"

namespace platform {

std::optional<TTcpStream> ConnectTcpFrom(const Endpoint& to, uint32_t localAddress, std::string* error) {
  return socket_system::ConnectStream(to, localAddress, error);
}

}  // namespace platform
