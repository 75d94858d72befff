// The command channel: a TCP line server. One listener thread accepts; each
// connection is served on a thread of its own (one that waited for it, left by
// a connection that has ended, or one started for it). A line ends at LF (one
// CR before it is removed); its first word is matched, case-insensitively and
// in registration order, against the registered command words, and the
// handler runs on the connection's thread. The server never sends anything but
// replies.
//
// No connection can hold a place that a client needs: one that has not sent a
// whole command line within FirstLineMs of being accepted, or none for
// SilentMs since its last, is closed; TCP keep-alive ends one whose peer
// vanished. When all places are taken, a new connection takes the place of the
// one silent longest among those without a registered client (a connection
// whose last line from a registered client is older than SilentMs counts as
// without) that were accepted at least GraceMs ago; only when no place can be
// taken so is it closed at once. An optional cap on the connections from one
// address refuses the rest.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/limits.h"
#include "platform/socket.h"

// What a handler receives for one command line, and what it leaves for the
// dispatcher. A handler never touches the connection: it fills in ReplyText
// (or sets Failed) and returns; the dispatcher writes the reply once the
// handler has returned, so a handler's BusyFlag guard has released the flag
// before a byte goes out and a slow client holds up nobody but itself.
struct CommandCall {
  std::string ArgumentText;             // the text after the command word and its blank
  std::vector<std::string> Arguments;   // ArgumentText split at blanks, empty words dropped
  std::vector<std::string> ReplyText;   // reply lines, each sent with CR LF; none: nothing is sent
  std::string PeerAddress;              // dotted IPv4 address of the client's end
  // Set by a handler that failed: after its reply the connection is closed.
  bool Failed = false;
  // Set by a handler when the line came from a registered client at the
  // address it registered from: its connection keeps its place when all
  // places are taken.
  bool FromClient = false;

  // The reply as one line ("" when none), for tests.
  std::string Reply() const;
  // Back to a fresh call's values, keeping the memory the texts had, so that
  // a connection's next line needs no new allocations; all but Arguments,
  // whose words stay for the split of the next line to overwrite (a word
  // removed would take its memory with it).
  void Reset();
};

// Appends the reply's bytes as they go on the wire: each line of ReplyText
// ended by CR LF, a text holding line breaks (CR LF, LF or a lone CR) as
// several lines.
void AppendFramedReply(const std::vector<std::string>& replyText, std::string& wire);

// Writes a whole reply; false when the connection is gone.
using ReplyWriterFn = std::function<bool(const std::string& wire)>;

using CommandHandlerFn = std::function<void(CommandCall&)>;

struct CommandHandler {
  std::string Word;  // "<connect>"
  std::string Name;  // "ConnectCmd"
  CommandHandlerFn Handler;
};

// Splits at blanks (character 32); empty words are dropped, nothing else is trimmed.
std::vector<std::string> SplitArguments(const std::string& text);
// The same into words, reusing the memory of the words it held.
void SplitArgumentsInto(const std::string& text, std::vector<std::string>& words);
// The first handler whose word matches the line: the whole line equals the word,
// or the line begins with the word and a blank; letter case ignored. -1 when none.
int MatchCommand(const std::vector<CommandHandler>& handlers, const std::string& line);

// Words first..last-1 of a split argument list joined with single blanks: how a
// handler rebuilds a player name. Empty when the range is empty.
std::string JoinArguments(const std::vector<std::string>& words, size_t first, size_t last);

// The bounds on every connection.
struct TConnectionLimits {
  int FirstLineMs = kFirstLineMs;     // a whole line within this of the accept
  int SilentMs = kSilentConnectionMs;  // then a whole line at least this often
  int MaxPerAddress = 0;              // connections from one address at once; 0: no cap
  int GraceMs = kNewConnectionGraceMs;  // younger than this, never closed to make room
};

// Cuts the command lines out of the bytes of one connection as they arrive:
// a line ends at LF, and one CR before it is removed.
class TLineFramer {
 public:
  enum class Cut { Line, NeedMore, Overlong };
  // Adds received bytes. The buffer holds at most one unfinished line beyond
  // what Next has not yet returned.
  void Append(const char* data, size_t size);
  // The next whole line in line (Line); NeedMore when no whole line is
  // buffered; Overlong when a line, or the bytes without a line feed, pass
  // kMaxLineBytes (a removed CR counts): the connection must end.
  Cut Next(std::string& line);
  // Empty again, for the next connection, keeping the buffer's memory.
  void Clear() {
    buffer_.clear();
    consumed_ = 0;
    scanned_ = 0;
  }

 private:
  std::string buffer_;
  size_t consumed_ = 0;  // bytes of buffer_ already returned as lines
  size_t scanned_ = 0;   // bytes of buffer_ known to hold no line feed past consumed_
};

enum class LineEnd { Continue, Close };

// What one connection reuses from line to line: the call and the reply's
// bytes, so that a line costs no allocations once the first has run.
struct TLineScratch {
  CommandCall Call;
  std::string Wire;
};

// Runs one non-empty line as a connection from peerAddress does: matches it,
// runs the handler and, after the handler has returned (and with it released
// whatever its guards held), hands the reply it left to write in one call, the
// only write of the line; nothing when the reply is empty or write is empty
// (the reply is then only run, as the fuzz targets do). Close when the line is
// unknown, the handler failed or threw, or the reply could not be written.
// fromClient, when not null, tells whether the handler marked the line as
// coming from a registered client; it is set before write is called. On the
// caller's thread.
LineEnd RunCommandLine(const std::vector<CommandHandler>& handlers, const std::string& line,
                       const std::string& peerAddress, const ReplyWriterFn& write, bool* fromClient = nullptr);
// The same with a connection's scratch, which it resets first.
LineEnd RunCommandLine(const std::vector<CommandHandler>& handlers, const std::string& line,
                       const std::string& peerAddress, const ReplyWriterFn& write, bool* fromClient,
                       TLineScratch& scratch);

class TCommandServer {
 public:
  // With the system's limits: kFirstLineMs, kSilentConnectionMs and no cap
  // per address (SetConnectionLimits sets max_connections_per_address).
  TCommandServer();
  ~TCommandServer();
  TCommandServer(const TCommandServer&) = delete;
  TCommandServer& operator=(const TCommandServer&) = delete;

  // Before Activate. Main thread only. The release waits at most
  // terminateWaitMs, looking every terminateCheckMs.
  void Configure(int port, int listenQueue, int maxConnections, int terminateWaitMs, int terminateCheckMs = 250);
  void RegisterCommand(const std::string& word, const std::string& name, CommandHandlerFn handler);
  // Other bounds than the system's. Before Activate. Main thread only.
  void SetConnectionLimits(const TConnectionLimits& limits);
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
  // Connections being served now (a thread waiting as the spare is not
  // counted). Thread safe.
  int ConnectionCount() const;
  // Waits until exactly count connections are being served, at most
  // timeoutMs; true when reached. For tests. Thread safe.
  bool WaitConnectionCount(int count, int timeoutMs) const;
  const std::vector<CommandHandler>& Handlers() const;

 private:
  struct Connection;
  struct Worker;
  struct Shared;
  static void ListenLoop(const std::shared_ptr<Shared>& shared);
  // Starts the worker's thread on the connection (none: as the spare).
  static void StartWorker(const std::shared_ptr<Shared>& shared, const std::shared_ptr<Worker>& worker,
                          const std::shared_ptr<Connection>& connection);
  static void RunWorker(std::shared_ptr<Shared> shared, std::shared_ptr<Worker> worker,
                        std::shared_ptr<Connection> connection);
  struct ThreadScratch;
  static void ServeLines(const std::vector<CommandHandler>& handlers, const TConnectionLimits& limits,
                         Connection& connection, const std::atomic<bool>& stopping, ThreadScratch& kept);

  int port_ = 0;
  int listenQueue_ = 15;
  int terminateWaitMs_ = 5000;
  int terminateCheckMs_ = 250;
  uint16_t boundPort_ = 0;
  // What the listener and the connection threads use; shared with them so that a
  // thread left running after a timed-out release still finds it alive.
  std::shared_ptr<Shared> shared_;
  std::thread listenerThread_;
  bool released_ = false;
};
