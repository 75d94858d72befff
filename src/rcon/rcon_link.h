// What a remote-console exchange needs of the network: one datagram out to the
// game server, the next datagram in from anyone. The program uses the UDP link
// below; tests put a scripted game server in its place, so that they exercise
// every rule of the exchange without real waits.
#pragma once

#include <memory>
#include <string>

#include "platform/socket.h"

class TRconLink {
 public:
  virtual ~TRconLink() = default;
  // Sends one datagram. False with the reason on a socket error.
  virtual bool Send(const std::string& datagram, const platform::Endpoint& to, std::string* error) = 0;
  // Waits at most timeoutMs (0: only what is queued already) for one datagram.
  // Timeout when none came, or when a stop was asked for meanwhile.
  virtual platform::ReceiveStatus Receive(std::string& data, platform::Endpoint& from, int timeoutMs,
                                          std::string* error) = 0;
};

// The link over a UDP socket that the system binds at the first send. Null
// with the reason when no socket can be had.
std::unique_ptr<TRconLink> OpenUdpRconLink(std::string* error);
