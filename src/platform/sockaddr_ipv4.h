// Inside platform only: the system's IPv4 socket address (sockaddr_in) and
// its conversions from and to an Endpoint, the same on every system once its
// socket headers are in.
#pragma once

#ifdef _WIN32
#include "platform/windows/winsock.h"
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "platform/socket.h"

namespace platform {

inline sockaddr_in ToSockaddr(const Endpoint& endpoint) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(endpoint.Address);
  addr.sin_port = htons(endpoint.Port);
  return addr;
}

inline Endpoint FromSockaddr(const sockaddr_in& addr) {
  return Endpoint{ntohl(addr.sin_addr.s_addr), ntohs(addr.sin_port)};
}

}  // namespace platform
