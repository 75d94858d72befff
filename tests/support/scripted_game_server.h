// A scripted game server in place of the remote console's UDP socket: the
// datagrams it "sends back" are queued in advance, per datagram we send, and
// a wait with nothing queued times out at once. So the exchange's rules are
// tested datagram by datagram without a single real wait.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "rcon/rcon_link.h"

namespace scripted {

const std::string kFF = "\xFF\xFF\xFF\xFF";

// The game server's endpoint in the tests: 127.0.0.1:27015.
platform::Endpoint Server();
platform::Endpoint OtherPort();

// Datagrams as a real game server writes them.
std::string ChallengeAnswer(const std::string& number);
std::string Answer(const std::string& text);  // four 0xFF bytes, "l", text, two NULs
std::string Reject(const std::string& text);  // four 0xFF bytes, "9", text, one NUL
// The datagram as split packets of at most 1391 bytes each, in index order.
std::vector<std::string> SplitPackets(const std::string& datagram, uint32_t sequence);

struct TArrival {
  std::string Data;
  platform::Endpoint From = Server();
};

class TScriptedLink : public TRconLink {
 public:
  // Waiting on the socket before the exchange begins.
  void QueueNow(const TArrival& arrival) { queue_.push_back(arrival); }
  // Arrives once our datagram number n (0: the challenge request, 1: the
  // command) was sent.
  void After(int n, const std::vector<TArrival>& arrivals) { after_[n] = arrivals; }

  bool Send(const std::string& datagram, const platform::Endpoint& to, std::string* error) override;
  platform::ReceiveStatus Receive(std::string& data, platform::Endpoint& from, int timeoutMs,
                                  std::string* error) override;

  std::vector<std::string> Sent;  // every datagram we sent
  std::vector<int> WaitsMs;       // the time-out of every wait we made, drains included

 private:
  std::vector<TArrival> queue_;
  std::map<int, std::vector<TArrival>> after_;
};

}  // namespace scripted
