// The screen receiver: a UDP socket on all local IPv4 addresses, and one
// listener thread that handles the datagrams one after another, reply included.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "platform/socket.h"

class TScreenServer {
 public:
  TScreenServer() = default;
  ~TScreenServer();
  TScreenServer(const TScreenServer&) = delete;
  TScreenServer& operator=(const TScreenServer&) = delete;

  // Binds the port and starts the listener. False with the reason when the port
  // cannot be bound. Main thread only.
  bool Activate(int port, std::string* error);
  // Stops the listener (it looks for the stop at least once a second) and
  // closes the socket. Idempotent. Main thread only.
  void Release();
  uint16_t BoundPort() const;

 private:
  void Listen();

  platform::TUdpSocket socket_;
  std::thread listener_;
  std::atomic<bool> stopping_{false};
};

// Handles one datagram from address: ties it to the client with a transfer
// under way from that address, appends it, and writes the file once complete.
// Returns the reply to send ("ok", "resend" or empty). Screen listener thread
// (tests call it directly).
std::string HandleScreenDatagram(const std::string& datagram, const std::string& address);
// Where screenshots go: scr_dir when set, else zelk_screens/ in the data
// directory; ends in "/". Thread safe.
std::string ScreenRootDirectory();
// Replaces each of \ / : * ? " < > | by "."; all else unchanged.
std::string MakeFileNameSafe(const std::string& text);
