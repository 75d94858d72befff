// Inside platform only: what each system's socket.cpp (posix/ or windows/)
// gives the shared socket.cpp and tcp_connect_from.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/socket.h"

namespace platform::socket_system {

// The system's name lookup of an IPv4 host, for ResolveIpv4.
std::optional<uint32_t> Resolve(const std::string& host, std::string* error);
// Opens a TCP socket, binds it to localAddress (any port) when there is one,
// then connects to `to` (blocking). nullopt with the failing call named in
// error: "socket: ...", "bind 127.0.0.2: ...", "connect 127.0.0.1:28015: ...".
std::optional<TTcpStream> ConnectStream(const Endpoint& to, std::optional<uint32_t> localAddress,
                                        std::string* error);

}  // namespace platform::socket_system
