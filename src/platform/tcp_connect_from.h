// Connecting a TCP stream from a chosen local IPv4 address, so that a test or
// the client simulator can appear as another machine (127.0.0.2, ...).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/socket.h"

namespace platform {

// Binds the new socket to localAddress (any port), then connects to `to`
// (blocking). nullopt with the failing call named in error.
std::optional<TTcpStream> ConnectTcpFrom(const Endpoint& to, uint32_t localAddress, std::string* error);

}  // namespace platform
