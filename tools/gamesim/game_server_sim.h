// A game server's remote console on a loopback UDP port, answering as a real
// GoldSrc server does: the challenge per address, the tokenising of the command
// line, "Bad rcon_password.", the reject datagram for a bad challenge, answers
// of at most 1399 text bytes per datagram ending in two NUL bytes, no answer to
// a datagram over 515 bytes, and the ban of an address after 5 wrong passwords
// within 30 seconds. On top, the status add-on ("zelk_stat 1" in the backslash
// form), kick of a named player and the amx_tsay chat, all recorded.
//
// Players, the status mark, the password and canned outputs are set from tests
// (or from a scenario file by the program). Every method is thread safe.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace gamesim {

struct TSimPlayer {
  std::string Name;
  std::string Address;  // as the status answer shows it: "ip:port" or a bare ip
};

struct TSimKick {
  std::string Name;  // the name as the command gave it
  std::string Text;  // the text the player sees
  bool Found = false;
};

// Tokens of a command line as the engine splits it: a double-quoted token runs
// to the next quote; an unquoted token ends at a blank (any byte up to 0x20) or
// at one of { } ( ) ' , : which are tokens of their own. End holds, for each
// token, the offset just after it in the line.
struct TTokens {
  std::vector<std::string> Words;
  std::vector<size_t> End;
};
TTokens Tokenise(const std::string& line);

class TGameServerSim {
 public:
  TGameServerSim();
  ~TGameServerSim();
  TGameServerSim(const TGameServerSim&) = delete;
  TGameServerSim& operator=(const TGameServerSim&) = delete;

  // Binds 127.0.0.1:port (0 lets the system pick) and starts answering.
  bool Start(uint16_t port, std::string* error);
  // Stops answering and joins the thread. Idempotent.
  void Stop();
  uint16_t Port() const { return port_; }

  void SetPassword(const std::string& password);
  void SetHostname(const std::string& hostname);
  void SetStatusMark(const std::string& mark);
  void SetPlayers(const std::vector<TSimPlayer>& players);
  // Receives and records, but never answers.
  void SetSilent(bool silent);
  // The printed output of a command word, replacing the built-in behaviour
  // ("zelk_stat" included).
  void SetOutput(const std::string& word, const std::string& text);
  // Called with a short line for every executed command (the program prints
  // it), on the simulator's thread, outside its lock.
  void SetEventSink(std::function<void(const std::string&)> sink);

  // The challenge this server hands to the address (dotted text).
  uint32_t ChallengeFor(const std::string& address);
  std::vector<std::string> Datagrams() const;  // every datagram received, raw
  std::vector<std::string> Commands() const;   // every executed command text
  std::vector<TSimKick> Kicks() const;
  std::vector<std::string> Chats() const;      // the arguments of each amx_tsay
  std::vector<TSimPlayer> Players() const;
  // Waits until at least count datagrams arrived, or timeoutMs passed.
  bool WaitForDatagrams(size_t count, int timeoutMs) const;

 private:
  void Run();
  // Handles one datagram; the datagrams to send back, in order. Caller holds lock_.
  std::vector<std::string> Handle(const std::string& data, const platform::Endpoint& from);
  std::vector<std::string> HandleRcon(const std::string& data, const std::string& line, const std::string& address);
  // The printed output of one command. Caller holds lock_.
  std::string Execute(const std::string& command);
  std::string StatusText() const;
  uint32_t ChallengeForLocked(const std::string& address);
  bool CountFailure(const std::string& address);

  platform::TUdpSocket socket_;
  uint16_t port_ = 0;
  std::thread thread_;

  // Guards everything below, and the stop request.
  mutable std::mutex lock_;
  mutable std::condition_variable arrived_;
  bool stopping_ = false;
  std::string password_;
  std::string hostname_ = "Counter-Strike 1.6 Server";
  std::string statusMark_;
  std::vector<TSimPlayer> players_;
  bool silent_ = false;
  std::map<std::string, std::string> outputs_;
  std::function<void(const std::string&)> sink_;
  std::vector<std::string> events_;  // lines for sink_, handed over outside the lock
  std::mt19937 random_{std::random_device{}()};
  std::map<std::string, uint32_t> challenges_;
  std::map<std::string, std::vector<int64_t>> failures_;  // ms stamps of wrong passwords per address
  std::map<std::string, bool> banned_;
  std::vector<std::string> datagrams_;
  std::vector<std::string> commands_;
  std::vector<TSimKick> kicks_;
  std::vector<std::string> chats_;
};

}  // namespace gamesim
