// The command channel: a TCP line server. One listener thread accepts; each
// connection is served on a thread of its own (at most kMaxConnections; the
// next one is accepted and closed at once). A line ends at LF (one CR before it
// is removed); its first word is matched, case-insensitively and in
// registration order, against the registered command words, and the handler
// runs on the connection's thread. The server never sends anything but replies.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

// What a handler receives for one command line.
struct CommandCall {
  std::string ArgumentText;             // the text after the command word and its blank
  std::vector<std::string> Arguments;   // ArgumentText split at blanks, empty words dropped
  std::vector<std::string> ReplyText;   // reply lines, each sent with CR LF
  bool ReplyPending = true;
  std::string PeerAddress;              // dotted IPv4 address of the client's end
  // Set by a handler that failed: after its reply the connection is closed.
  bool Failed = false;
  // The connection the reply goes to; not owned. Null in tests that call a
  // handler directly: the reply is then only recorded in ReplyText.
  platform::TTcpStream* Connection = nullptr;
  // Set by SendCommandReply when the write failed: the connection is gone.
  bool ConnectionLost = false;

  // Clears ReplyPending and writes the reply lines at once. Handlers call it
  // exactly once, as their last step, after releasing BusyFlag.
  void SendCommandReply();
  // The reply as one line ("" when none), for tests.
  std::string Reply() const;
};

using CommandHandlerFn = std::function<void(CommandCall&)>;

struct CommandHandler {
  std::string Word;  // "<connect>"
  std::string Name;  // "ConnectCmd"
  CommandHandlerFn Handler;
};

// Splits at blanks (character 32); empty words are dropped, nothing else is trimmed.
std::vector<std::string> SplitArguments(const std::string& text);
// The first handler whose word matches the line: the whole line equals the word,
// or the line begins with the word and a blank; letter case ignored. -1 when none.
int MatchCommand(const std::vector<CommandHandler>& handlers, const std::string& line);

// Words first..last-1 of a split argument list joined with single blanks: how a
// handler rebuilds a player name. Empty when the range is empty.
std::string JoinArguments(const std::vector<std::string>& words, size_t first, size_t last);

class TCommandServer {
 public:
  TCommandServer();
  ~TCommandServer();
  TCommandServer(const TCommandServer&) = delete;
  TCommandServer& operator=(const TCommandServer&) = delete;

  // Before Activate. Main thread only.
  void Configure(int port, int listenQueue, int maxConnections, int terminateWaitMs);
  void RegisterCommand(const std::string& word, const std::string& name, CommandHandlerFn handler);
  // Binds, listens and starts the listener thread. False with the reason when
  // the port cannot be bound. Main thread only.
  bool Activate(std::string* error);
  // Stops accepting, closes every connection and waits for the connection
  // threads, up to the termination wait. False ("Terminate Thread Timeout") when
  // threads are still running then; those are detached and end on their own
  // later (they keep what they use alive), so the process can still exit.
  // Idempotent. Main thread only.
  bool Release();

  int Port() const { return port_; }
  // The port actually bound (differs from Port() when configured with 0); 0
  // before Activate or after a failed one.
  uint16_t BoundPort() const { return boundPort_; }
  // Connection threads running now. Thread safe.
  int ConnectionCount() const;
  // Waits until exactly count connection threads run, at most timeoutMs; true
  // when reached. For tests. Thread safe.
  bool WaitConnectionCount(int count, int timeoutMs) const;
  const std::vector<CommandHandler>& Handlers() const;

 private:
  struct Connection;
  struct Shared;
  static void ListenLoop(const std::shared_ptr<Shared>& shared);

  int port_ = 0;
  int listenQueue_ = 15;
  int terminateWaitMs_ = 5000;
  uint16_t boundPort_ = 0;
  // What the listener and the connection threads use; shared with them so that a
  // thread left running after a timed-out release still finds it alive.
  std::shared_ptr<Shared> shared_;
  std::thread listenerThread_;
  bool released_ = false;
};
