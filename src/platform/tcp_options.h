// Options of a connected TCP stream.
#pragma once

#include <string>

#include "platform/socket.h"

namespace platform {

// Turns Nagle's algorithm off (TCP_NODELAY), so that a small reply leaves at
// once even while an earlier one is not yet acknowledged. False with the
// failing call named in error.
bool SetNoDelay(TTcpStream& stream, std::string* error);

}  // namespace platform
