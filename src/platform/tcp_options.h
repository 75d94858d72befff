// Options of a connected TCP stream, or of a listener for every stream it
// accepts.
#pragma once

#include <string>

#include "platform/socket.h"

namespace platform {

// Turns Nagle's algorithm off (TCP_NODELAY), so that a small reply leaves at
// once even while an earlier one is not yet acknowledged. False with the
// failing call named in error.
bool SetNoDelay(TTcpStream& stream, std::string* error);
// Turns TCP keep-alive on (SO_KEEPALIVE), with the first probe after idleSeconds
// of silence, then one every intervalSeconds, and the connection reset after
// probes unanswered ones: a peer that vanished without closing (a pulled cable,
// a crashed router) does not hold its connection for ever. False with the
// failing call named in error; the options set before it stay (Windows before
// 10 version 1703 sets no probe count: ten probes, and false).
bool SetKeepAlive(TTcpStream& stream, int idleSeconds, int intervalSeconds, int probes, std::string* error);
// Bounds every send on the stream (SO_SNDTIMEO): a send that can move no byte
// for timeoutMs fails, so WriteAll returns false as for a peer that went away,
// and a peer that never reads cannot hold the writing thread. False with the
// failing call named in error.
bool SetSendTimeout(TTcpStream& stream, int timeoutMs, std::string* error);

// The same options set once on a listener: Linux gives every socket a listener
// accepts the listener's options, so each connection starts with them at no
// cost of its own (a server that sets them per connection spends a system call
// on each before its first byte).
// Windows does not promise to copy them: there the listener keeps them, and
// Accept sets them on each stream.
bool SetNoDelay(TTcpListener& listener, std::string* error);
bool SetKeepAlive(TTcpListener& listener, int idleSeconds, int intervalSeconds, int probes, std::string* error);
bool SetSendTimeout(TTcpListener& listener, int timeoutMs, std::string* error);

}  // namespace platform
