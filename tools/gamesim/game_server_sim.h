// A game server's remote console on a loopback UDP port, answering as a real
// GoldSrc server does:
//   - the challenge per IP address;
//   - the command line split into tokens as the engine splits it;
//   - the checks in the engine's order: fewer than three tokens, no password
//     set, the address marked for a ban, the challenge (a `9` reject datagram,
//     never counted), the password (counted per address and port);
//   - 5 wrong passwords within 30 s from one address and port: the next command
//     datagram from there bans the whole IP, which from then on gets only the
//     ban datagram;
//   - no answer to a command datagram over 515 bytes (still validated);
//   - output cut into `l` datagrams of at most 1399 text bytes between print
//     calls, two NULs after each; a datagram over 1400 bytes sent as split
//     packets (FE FF FF FF);
//   - at most 180 connectionless datagrams per source address in a 60 s
//     window (configurable); the rest of the window gets no answer;
//   - player names listed as the engine lists the names players send
//     (engine_name.h), duplicates as (1)Name;
//   - command names matched case-insensitively; the engine's status, kick,
//     say and hostname; the status add-on ("zelk_stat 1", our system's backslash form) and
//     the chat add-on (amx_tsay), each of which can be switched off.
// Everything received and done is recorded for tests.
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
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace gamesim {

enum class TSimPlayerKind {
  Player,      // a human player in the game
  Bot,         // uniqueid BOT, no address in status
  Proxy,       // an HLTV proxy: uniqueid HLTV, its viewer counts instead of frags
  Connecting,  // still connecting: uniqueid STEAM_ID_PENDING, counted in status but not listed
};

// One player slot. The first two fields keep {Name, Address} initialisation
// working; everything after them has a default.
struct TSimPlayer {
  // The name the player's game sent; the simulator lists the engine's version
  // of it (see Listed).
  std::string Name;
  std::string Address;  // as the status answers show it: "ip:port" or a bare ip
  int UserId = 0;       // 0: the simulator assigns the next free userid
  std::string UniqueId{};  // empty: STEAM_0:0:<userid>, or BOT / HLTV / STEAM_ID_PENDING by kind
  TSimPlayerKind Kind = TSimPlayerKind::Player;
  int Frags = 0;
  int Seconds = 0;  // time on the server, as status shows it
  int Ping = 0;
  int Loss = 0;
  int HltvViewers = 0;  // proxies only
  int HltvSlots = 0;       // proxies only
  int HltvDelay = 0;       // proxies only
  int Slot = 0;            // the status line's "#"; 0: the lowest free one. Kept when others leave
  // Name is already the engine's listing and is kept verbatim. Players() sets
  // it, so a list read back and given again keeps its names.
  bool Listed = false;
};

struct TSimKick {
  std::string Name;   // by name: the name as the command gave it; by userid: the player's name ("" if none)
  std::string Text;   // the second argument as the engine tokenises it (quotes removed)
  bool Found = false;
  int UserId = 0;     // by userid: the userid given; by name: the player's userid (0 if none)
  // The reason the player sees after "Kicked :": the raw rest of the command
  // line after skipping as many characters as the first argument plus one, so
  // a quoted name leaves quote artefacts (`" "reason"`), a #userid does not.
  std::string Shown;
};

enum class TSimChatKind { Tsay, Say };

// One line that players saw in the chat.
struct TSimChat {
  TSimChatKind Kind = TSimChatKind::Tsay;
  std::string Colour;  // amx_tsay: the colour word as given, "" when the first word is none
  // amx_tsay: the text; say: "<hostname> <text>" as the engine's console
  // prints it, the text as the engine keeps it: min(63, 124 - hostname
  // length) characters, a leading quote dropped with the last character.
  std::string Shown;
};

// The order in which the pieces of one split datagram go out.
enum class TSplitOrder { InOrder, Reversed };

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
  // The hostname cvar (also set by the "hostname" command).
  void SetHostname(const std::string& hostname);
  std::string Hostname() const;
  // The slot count status shows in "(N max)"; 32 by default.
  void SetMaxPlayers(int slots);
  // Connectionless datagrams (challenge requests and commands alike) answered
  // per source IP in a 60 s window that starts with the address's first one;
  // the rest of the window is dropped silently. 180 by default, as the
  // engine; 0 switches the limit off.
  void SetRateLimit(int perWindow);
  // The text after "version :  " in status (a stock server's by default).
  void SetVersion(const std::string& version);
  // The map in the engine's status and header field 2 of the add-on's answer.
  void SetStatusMark(const std::string& mark);
  // The players, in order. A player not yet Listed joins: his name becomes
  // the engine's version of it, made unique among the names listed before
  // him. Userids of 0 get the next free one.
  void SetPlayers(const std::vector<TSimPlayer>& players);
  // Receives and records, but never answers.
  void SetSilent(bool silent);
  // The printed output of a command word (any case), replacing the built-in
  // behaviour. It is printed one byte per print call, so it fills datagrams
  // to the brim.
  void SetOutput(const std::string& word, const std::string& text);
  // Without the status add-on "zelk_stat" is an unknown command (empty answer).
  void SetStatusAddon(bool present);
  // Without the chat add-on "amx_tsay" is an unknown command: empty answer, nothing shown.
  void SetChatAddon(bool present);
  // Test hook: the order of the pieces of split datagrams.
  void SetSplitOrder(TSplitOrder order);
  // Called with a short line for every executed command (the program prints
  // it), on the simulator's thread, outside its lock.
  void SetEventSink(std::function<void(const std::string&)> sink);

  // The challenge this server hands to the address (dotted text). Asking here
  // does not count as the address having asked.
  uint32_t ChallengeFor(const std::string& address);
  std::vector<std::string> Datagrams() const;  // every datagram received, raw
  std::vector<std::string> Commands() const;   // every executed command text
  std::vector<TSimKick> Kicks() const;
  std::vector<std::string> Chats() const;      // the raw arguments of each amx_tsay shown
  std::vector<TSimChat> Messages() const;      // every chat line shown (amx_tsay and say), in order
  std::vector<TSimPlayer> Players() const;
  std::vector<std::string> BannedAddresses() const;  // IPs banned for wrong passwords
  // Waits until at least count datagrams arrived, or timeoutMs passed.
  bool WaitForDatagrams(size_t count, int timeoutMs) const;

 private:
  // One address and port's wrong passwords, as the engine keeps them.
  struct TFailures {
    std::vector<int64_t> StampsMs;
    bool ShouldBan = false;
  };

  void Run();
  // Handles one datagram; the datagrams to send back, in order. Caller holds lock_.
  std::vector<std::string> Handle(const std::string& data, const platform::Endpoint& from);
  std::vector<std::string> HandleRcon(const std::string& data, const std::string& line,
                                      const platform::Endpoint& from);
  // The print calls of one command. Caller holds lock_.
  std::vector<std::string> Execute(const std::string& command);
  std::vector<std::string> Kick(const std::string& command, const TTokens& tokens);
  std::vector<std::string> Hostname(const TTokens& tokens);
  std::vector<std::string> Tsay(const std::string& command, const TTokens& tokens);
  std::vector<std::string> Say(const std::string& command, const TTokens& tokens);
  // Answer datagrams (split when long) for the print calls. Caller holds lock_.
  std::vector<std::string> Answer(const std::vector<std::string>& prints);
  uint32_t ChallengeForLocked(const std::string& address);
  // False when the address has used up its window. Caller holds lock_.
  bool WithinRateLimit(const std::string& ip);
  void CountFailure(const std::string& addressAndPort);

  platform::TUdpSocket socket_;
  uint16_t port_ = 0;
  std::thread thread_;

  // Guards everything below, and the stop request.
  mutable std::mutex lock_;
  mutable std::condition_variable arrived_;
  bool stopping_ = false;
  std::string password_;
  std::string hostname_ = "Counter-Strike 1.6 Server";
  int maxPlayers_ = 32;
  // One source address's window: its start (whole seconds, as the engine's
  // clock) and the datagrams counted in it.
  struct TRateWindow {
    int64_t StartSeconds = 0;
    int Count = 0;
  };
  int rateLimit_ = 180;
  std::map<std::string, TRateWindow> rateWindows_;  // by IP
  std::string statusMark_ = "de_dust2";
  std::string version_ = "48/1.1.2.7/Stdio 8684 secure  (10)";
  std::vector<TSimPlayer> players_;
  int nextUserId_ = 1;
  bool silent_ = false;
  bool statusAddon_ = true;
  bool chatAddon_ = true;
  TSplitOrder splitOrder_ = TSplitOrder::InOrder;
  uint32_t splitSequence_ = 0;
  std::map<std::string, std::string> outputs_;  // by lower-case word
  std::function<void(const std::string&)> sink_;
  std::vector<std::string> events_;  // lines for sink_, handed over outside the lock
  std::mt19937 random_{std::random_device{}()};
  std::map<std::string, uint32_t> challenges_;  // by IP
  std::set<std::string> asked_;                 // IPs that asked for a challenge
  std::map<std::string, TFailures> failures_;   // by "ip:port"
  std::set<std::string> banned_;                // IPs
  std::vector<std::string> datagrams_;
  std::vector<std::string> commands_;
  std::vector<TSimKick> kicks_;
  std::vector<std::string> chats_;
  std::vector<TSimChat> messages_;
};

}  // namespace gamesim
