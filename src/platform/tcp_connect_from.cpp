#include "platform/tcp_connect_from.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace platform {
namespace {

sockaddr_in ToSockaddr(uint32_t address, uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(address);
  addr.sin_port = htons(port);
  return addr;
}

bool Fail(std::string* error, const std::string& what) {
  if (error) *error = what + ": " + std::strerror(errno);
  return false;
}

}  // namespace

std::optional<TTcpStream> ConnectTcpFrom(const Endpoint& to, uint32_t localAddress, std::string* error) {
  TSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.Valid()) {
    Fail(error, "socket");
    return std::nullopt;
  }
  sockaddr_in local = ToSockaddr(localAddress, 0);
  if (::bind(socket.Fd(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    Fail(error, "bind " + DottedAddress(localAddress));
    return std::nullopt;
  }
  sockaddr_in remote = ToSockaddr(to.Address, to.Port);
  int rc;
  do {
    rc = ::connect(socket.Fd(), reinterpret_cast<sockaddr*>(&remote), sizeof remote);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    Fail(error, "connect " + EndpointText(to));
    return std::nullopt;
  }
  return TTcpStream(std::move(socket), to);
}

}  // namespace platform
