// Both ends of one TCP connection over loopback, for tests of a stream's
// own behaviour.
#pragma once

#include <optional>
#include <string>

#include "platform/socket.h"

namespace testenv {

struct TLoopbackPair {
  platform::TTcpStream Client;    // the connecting end
  platform::TTcpStream Accepted;  // the listening side's end
};

// Connects and accepts on a free loopback port; nullopt with the reason in
// error when either fails. The listener is closed once it has accepted.
inline std::optional<TLoopbackPair> LoopbackPair(std::string* error) {
  auto listener = platform::TTcpListener::Open(0, 1, error, /*loopbackOnly=*/true);
  if (!listener) return std::nullopt;
  auto client = platform::TTcpStream::Connect({0x7F000001, listener->LocalPort()}, error);
  if (!client) return std::nullopt;
  auto accepted = listener->Accept();
  if (!accepted) {
    *error = "accept failed";
    return std::nullopt;
  }
  return TLoopbackPair{std::move(*client), std::move(*accepted)};
}

}  // namespace testenv
