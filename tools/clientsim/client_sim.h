// The anti-cheat client's side of the command channel, for tests, the demo and
// the benchmark: one TCP connection that sends command lines and reads the
// reply lines, optionally from a chosen loopback address so that it can play
// a client on another machine.
#pragma once

#include <optional>
#include <string>

#include "platform/socket.h"

namespace clientsim {

enum class ReadStatus { Line, Closed, Timeout };

// The command lines of the channel, without their line feed.
std::string ConnectLine(const std::string& name, const std::string& identifier, const std::string& check);
std::string DisconnectLine(const std::string& name);
std::string UpdateLine(const std::string& name, const std::string& screenState);
std::string BanLine(const std::string& name, const std::string& reason);

// A reply as readable text: bytes outside 0x20..0x7E become <XX> in hex
// (the accept line's 0xFF separators read <FF>).
std::string PrintableReply(const std::string& reply);

class TClientSim {
 public:
  // Connects to host:port (an IPv4 dotted address), from localAddress when it
  // is not empty. nullopt with the reason in error.
  static std::optional<TClientSim> Open(const std::string& host, int port, std::string* error,
                                        const std::string& localAddress = "");

  // Sends the line with a final LF. False when the connection is gone.
  bool SendLine(const std::string& line);
  // Sends bytes exactly as given (framing tests).
  bool SendRaw(const std::string& bytes);
  // The next reply line without its CR LF, waiting at most timeoutMs.
  ReadStatus ReadLine(std::string& line, int timeoutMs);
  // Sends one line and waits for one reply line; nullopt when the connection
  // closed or nothing came within timeoutMs.
  std::optional<std::string> Command(const std::string& line, int timeoutMs = 5000);
  // True when the server closes the connection within timeoutMs without
  // sending anything more.
  bool WaitClosed(int timeoutMs);
  void Close() { stream_.Close(); }

 private:
  explicit TClientSim(platform::TTcpStream stream) : stream_(std::move(stream)) {}
  platform::TTcpStream stream_;
  std::string buffer_;  // received bytes not yet returned as lines
};

}  // namespace clientsim
