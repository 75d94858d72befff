// The command channel's server: the listener thread, one thread per
// connection, line framing and dispatch, and the release.
//
// Threads: a connection is served from its first line to its end by one
// thread. A thread whose connection has ended waits as the spare for the next
// connection, unless another waits already; the server starts with one
// waiting. So a new connection usually begins on a thread that exists, its
// first reply not waiting for a thread to start, and the threads of a server
// whose clients come and go are not started and ended over and over.
//
// Thread ownership: the listener thread starts connection threads and joins
// the ones that have ended (at each accept); the release joins the rest after
// the listener has ended. A thread marks its own end, under the connections
// lock, as its last act. A connection thread closes each connection's socket
// at that connection's end, under the connections lock, so that the release
// never shuts down a descriptor that is being closed.
#include "channel/command_server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <list>
#include <optional>
#include <system_error>

#include "base/limits.h"
#include "base/metrics.h"
#include "platform/mutex.h"
#include "log/logs.h"
#include "platform/tcp_options.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

}  // namespace

struct TCommandServer::Connection {
  explicit Connection(platform::TTcpStream stream)
      : Stream(std::move(stream)), PeerAddress(platform::DottedAddress(Stream.Peer().Address)) {}
  // Read and written by the connection's thread; closed by it, and shut down
  // by the listener (to make room) and the release, only under ConnectionsLock.
  platform::TTcpStream Stream;
  const std::string PeerAddress;
  const int64_t AcceptedMs = NowMs();
  // Steady-clock milliseconds of the last whole line, and of the last line a
  // handler marked as a registered client's (-1: none yet). Written by the
  // connection's thread, read by the listener when it must make room.
  std::atomic<int64_t> LastLineMs{AcceptedMs};
  std::atomic<int64_t> LastClientLineMs{-1};

 private:
  // Both guarded by Shared::ConnectionsLock. A connection does not name the
  // Shared whose lock guards them, so GUARDED_BY cannot say it: they are
  // reached only through Shared::Finished and Shared::MadeRoom, which
  // REQUIRES(ConnectionsLock).
  friend struct Shared;
  bool finished_ = false;
  bool madeRoom_ = false;  // shut down to make room for a new one
};

// A connection thread, over the connections it serves one after another.
struct TCommandServer::Worker {
  // Started by the listener thread (the first spare by Activate) and joined by
  // it once Ended or, after the listener has ended, joined or detached by the
  // release; never touched by the thread itself.
  std::thread Thread;

 private:
  // Set by the thread as its last act. Guarded by Shared::ConnectionsLock,
  // reached only through Shared::Ended, as a connection's flags are.
  friend struct Shared;
  bool ended_ = false;
};

struct TCommandServer::Shared {
  std::vector<CommandHandler> Handlers;  // written before Activate, then read only
  int MaxConnections = 50;
  TConnectionLimits Limits;              // written before Activate, then read only
  std::optional<platform::TTcpListener> Listener;  // set before the listener starts, reset after it ended
  // Set once by the release, under ConnectionsLock so that a waiter on
  // ConnectionsChanged cannot miss it; read by every thread without a lock.
  std::atomic<bool> Stopping{false};

  // Guards Connections, Workers, the spare's hand-over and each connection's
  // Finished and MadeRoom flags and each worker's Ended flag, and the closing
  // of a connection's socket. Held only while the lists are counted, read or
  // changed, and while the spare waits.
  TMutex ConnectionsLock;
  // Signalled when a connection finishes, when a thread ends and when the
  // release begins.
  std::condition_variable ConnectionsChanged;
  std::list<std::shared_ptr<Connection>> Connections GUARDED_BY(ConnectionsLock);
  std::list<std::shared_ptr<Worker>> Workers GUARDED_BY(ConnectionsLock);
  // Whether a thread waits as the spare (at most one does), and the
  // connection the listener has handed to it and it has not taken yet.
  bool SpareWaiting GUARDED_BY(ConnectionsLock) = false;
  std::shared_ptr<Connection> HandedToSpare GUARDED_BY(ConnectionsLock);
  // Signalled when a connection is handed to the spare and when the release
  // begins.
  std::condition_variable SpareWake;

  // A connection's flags: its thread has ended (its socket is closed), and it
  // was shut down to make room for a new one; a worker's: its thread ended.
  bool& Finished(Connection& c) const REQUIRES(ConnectionsLock) { return c.finished_; }
  bool& MadeRoom(Connection& c) const REQUIRES(ConnectionsLock) { return c.madeRoom_; }
  bool& Ended(Worker& w) const REQUIRES(ConnectionsLock) { return w.ended_; }

  // Caller holds ConnectionsLock.
  bool AnyWorkerRunning() const REQUIRES(ConnectionsLock) {
    return std::any_of(Workers.begin(), Workers.end(),
                       [this](const std::shared_ptr<Worker>& w) REQUIRES(ConnectionsLock) { return !Ended(*w); });
  }
  // Caller holds ConnectionsLock.
  int RunningCount() const REQUIRES(ConnectionsLock) {
    return static_cast<int>(std::count_if(Connections.begin(), Connections.end(),
                                           [this](const std::shared_ptr<Connection>& c) REQUIRES(ConnectionsLock) {
                                             return !Finished(*c);
                                           }));
  }
  // The connections that hold a place: running and not told to make room.
  // Caller holds ConnectionsLock.
  bool HoldsPlace(Connection& c) const REQUIRES(ConnectionsLock) { return !Finished(c) && !MadeRoom(c); }
  // Caller holds ConnectionsLock.
  int PlacesTaken(const std::string& fromAddress = std::string()) const REQUIRES(ConnectionsLock) {
    return static_cast<int>(std::count_if(Connections.begin(), Connections.end(), [&](const auto& c) REQUIRES(ConnectionsLock) {
      return HoldsPlace(*c) && (fromAddress.empty() || c->PeerAddress == fromAddress);
    }));
  }
  // Shuts down the connection silent longest among those without a
  // registered client and older than the grace, so that its place goes to a
  // new one; false when there is none. A connection in its grace keeps its
  // place, so that a flood cannot push out a client before its first line.
  // Caller holds ConnectionsLock.
  bool MakeRoom() REQUIRES(ConnectionsLock) {
    const int64_t now = NowMs();
    Connection* longestSilent = nullptr;
    for (const auto& c : Connections) {
      if (!HoldsPlace(*c)) continue;
      if (now - c->AcceptedMs < Limits.GraceMs) continue;
      const int64_t clientLine = c->LastClientLineMs.load();
      if (clientLine >= 0 && now - clientLine <= Limits.SilentMs) continue;
      if (longestSilent == nullptr || c->LastLineMs.load() < longestSilent->LastLineMs.load()) {
        longestSilent = c.get();
      }
    }
    if (longestSilent == nullptr) return false;
    MadeRoom(*longestSilent) = true;
    longestSilent->Stream.Shutdown();  // its thread wakes, reads the end and finishes
    return true;
  }
};

// What a connection thread keeps from one connection to the next, so that
// neither a line nor a new connection costs an allocation once the thread has
// served a first one.
struct TCommandServer::ThreadScratch {
  TLineFramer Framer;
  std::string Line;
  TLineScratch Dispatch;
};

// Serves lines until the client closes, an error ends the connection, the
// connection stays silent past its bound, or the server stops. Lines that
// arrive together are served without further reads. A blank line is no sign
// of life: it neither counts as the first line nor keeps a connection open.
void TCommandServer::ServeLines(const std::vector<CommandHandler>& handlers, const TConnectionLimits& limits,
                                Connection& connection, const std::atomic<bool>& stopping, ThreadScratch& kept) {
  TLineFramer& framer = kept.Framer;
  std::string& text = kept.Line;
  framer.Clear();
  // The line's time and whether a registered client sent it; marked before
  // the reply is written, so that no connection of a client that has just
  // registered can be chosen to make room while its reply is on the way.
  struct {
    Connection& Served;
    int64_t LineMs = 0;
    bool FromClient = false;
  } line{connection};
  // One reference captured: the writer fits inside the std::function, which
  // then allocates nothing.
  const ReplyWriterFn write = [&line](const std::string& wire) {
    if (line.FromClient) line.Served.LastClientLineMs.store(line.LineMs, std::memory_order_relaxed);
    return line.Served.Stream.WriteAll(wire);
  };
  bool seenLine = false;
  char chunk[4096];
  while (!stopping.load()) {
    const TLineFramer::Cut cut = framer.Next(text);
    if (cut == TLineFramer::Cut::Overlong) return;
    if (cut == TLineFramer::Cut::NeedMore) {
      const int64_t deadline =
          seenLine ? connection.LastLineMs.load() + limits.SilentMs : connection.AcceptedMs + limits.FirstLineMs;
      const int64_t left = deadline - NowMs();
      if (left <= 0) return;  // silent too long: the place goes back
      const int waitMs = static_cast<int>(std::min<int64_t>(left, 1 << 30));
      // The wait is the socket's own receive time-out, not a poll before each
      // read: a line costs a read and a write, as on any line server.
      const long got = connection.Stream.ReadTimed(chunk, sizeof chunk, waitMs);
      if (got == -2) continue;  // the wait ended: the deadline decides
      if (got <= 0) return;     // closed, reset or shut down: a half-received line is dropped
      framer.Append(chunk, static_cast<size_t>(got));
      continue;
    }
    if (text.empty()) continue;
    seenLine = true;
    // Plain timestamps, read by the listener only to choose whom to close:
    // they need no ordering against anything else.
    line.LineMs = NowMs();
    connection.LastLineMs.store(line.LineMs, std::memory_order_relaxed);
    line.FromClient = false;
    const LineEnd end =
        RunCommandLine(handlers, text, connection.PeerAddress, write, &line.FromClient, kept.Dispatch);
    if (line.FromClient) connection.LastClientLineMs.store(line.LineMs, std::memory_order_relaxed);
    if (end == LineEnd::Close) return;
  }
}

LineEnd RunCommandLine(const std::vector<CommandHandler>& handlers, const std::string& line,
                       const std::string& peerAddress, const ReplyWriterFn& write, bool* fromClient) {
  TLineScratch scratch;
  return RunCommandLine(handlers, line, peerAddress, write, fromClient, scratch);
}

LineEnd RunCommandLine(const std::vector<CommandHandler>& handlers, const std::string& line,
                       const std::string& peerAddress, const ReplyWriterFn& write, bool* fromClient,
                       TLineScratch& scratch) {
  int index = MatchCommand(handlers, line);
  if (index < 0) return LineEnd::Close;
  const CommandHandler& entry = handlers[static_cast<size_t>(index)];
  CommandCall& call = scratch.Call;
  call.Reset();
  if (line.size() > entry.Word.size()) call.ArgumentText.assign(line, entry.Word.size() + 1);
  SplitArgumentsInto(call.ArgumentText, call.Arguments);
  call.PeerAddress = peerAddress;
  try {
    entry.Handler(call);
  } catch (...) {
    // An error that escapes a handler ends the connection; the handlers of this
    // system release what they hold through their guards.
    return LineEnd::Close;
  }
  // The handler has returned, so its BusyFlag guard is gone: the write below,
  // which waits as long as the client takes to read, holds nothing that
  // another thread needs. One write for the whole reply, so that it leaves as
  // soon as it is sent.
  if (fromClient != nullptr) *fromClient = call.FromClient;
  bool written = true;
  if (write) {
    scratch.Wire.clear();
    AppendFramedReply(call.ReplyText, scratch.Wire);
    if (!scratch.Wire.empty()) written = write(scratch.Wire);
  }
  return (call.Failed || !written) ? LineEnd::Close : LineEnd::Continue;
}

TCommandServer::TCommandServer() : shared_(std::make_shared<Shared>()) {}

void TCommandServer::SetConnectionLimits(const TConnectionLimits& limits) { shared_->Limits = limits; }

TCommandServer::~TCommandServer() { Release(); }

void TCommandServer::Configure(int port, int listenQueue, int maxConnections, int terminateWaitMs,
                               int terminateCheckMs) {
  port_ = port;
  listenQueue_ = listenQueue;
  shared_->MaxConnections = maxConnections;
  terminateWaitMs_ = terminateWaitMs;
  terminateCheckMs_ = terminateCheckMs;
}

void TCommandServer::RegisterCommand(const std::string& word, const std::string& name, CommandHandlerFn handler) {
  shared_->Handlers.push_back(CommandHandler{word, name, std::move(handler)});
}

const std::vector<CommandHandler>& TCommandServer::Handlers() const { return shared_->Handlers; }

bool TCommandServer::Activate(std::string* error) {
  if (released_ || listenerThread_.joinable()) return false;
  shared_->Listener = platform::TTcpListener::Open(static_cast<uint16_t>(port_), listenQueue_, error);
  if (!shared_->Listener) return false;
  // Every accepted connection starts with these, as Linux copies them from the
  // listener: none costs a system call per connection. Replies are small and
  // must leave as soon as they are sent, also when a client pipelines commands
  // (Nagle would hold the second reply back until the client's delayed
  // acknowledgement). Keep-alive ends a connection whose peer vanished without
  // a word. The send bound takes the connection of a reader that stalls. A
  // failure of any only costs that option.
  platform::TTcpListener& listener = *shared_->Listener;
  platform::SetNoDelay(listener, nullptr);
  platform::SetKeepAlive(listener, kKeepAliveIdleSeconds, kKeepAliveIntervalSeconds, kKeepAliveProbes, nullptr);
  platform::SetSendTimeout(listener, kCommandSendTimeoutMs, nullptr);
  boundPort_ = shared_->Listener->LocalPort();
  // The spare for the first connection.
  auto spare = std::make_shared<Worker>();
  {
    TMutexLock guard(shared_->ConnectionsLock);
    shared_->Workers.push_back(spare);
  }
  StartWorker(shared_, spare, nullptr);
  listenerThread_ = std::thread(ListenLoop, shared_);
  return true;
}

void TCommandServer::ListenLoop(const std::shared_ptr<Shared>& shared) {
  // Connections and threads that have ended, taken off the lists under the
  // lock and let go (joined, for a thread) after it.
  std::list<std::shared_ptr<Connection>> finished;
  std::list<std::shared_ptr<Worker>> ended;
  while (!shared->Stopping.load()) {
    std::optional<platform::TTcpStream> stream = shared->Listener->Accept();
    if (!stream) {
      if (shared->Stopping.load()) break;
      // Out of descriptors or a similar passing fault: wait a little (waking at
      // once on a release) instead of retrying in a tight loop.
      TMutexLock lock(shared->ConnectionsLock);
      shared->ConnectionsChanged.wait_for(lock.Native(), std::chrono::milliseconds(100),
                                          [&] { return shared->Stopping.load(); });
      continue;
    }

    auto connection = std::make_shared<Connection>(std::move(*stream));
    std::shared_ptr<Worker> worker;  // the thread for it when no spare waits
    bool admitted = false;
    bool handedToSpare = false;
    int fromAddress = 0;  // places taken from the new connection's address, when that is capped
    bool addressFull = false;
    {
      TMutexLock guard(shared->ConnectionsLock);
      for (auto it = shared->Connections.begin(); it != shared->Connections.end();) {
        auto next = std::next(it);
        if (shared->Finished(**it)) finished.splice(finished.end(), shared->Connections, it);
        it = next;
      }
      for (auto it = shared->Workers.begin(); it != shared->Workers.end();) {
        auto next = std::next(it);
        if (shared->Ended(**it)) ended.splice(ended.end(), shared->Workers, it);
        it = next;
      }
      // The caps are checked before a thread serves it: a connection refused
      // is closed at once (when `connection` goes out of scope), without data.
      const int perAddress = shared->Limits.MaxPerAddress;
      if (perAddress > 0) fromAddress = shared->PlacesTaken(connection->PeerAddress);
      addressFull = perAddress > 0 && fromAddress >= perAddress;
      admitted = !addressFull && (shared->MaxConnections <= 0 ||
                                  shared->PlacesTaken() < shared->MaxConnections || shared->MakeRoom());
      if (admitted) {
        shared->Connections.push_back(connection);
        handedToSpare = shared->SpareWaiting && shared->HandedToSpare == nullptr;
        if (handedToSpare) {
          shared->HandedToSpare = connection;
        } else {
          worker = std::make_shared<Worker>();
          shared->Workers.push_back(worker);
        }
      }
    }
    if (addressFull && AdmitErrorLine(connection->PeerAddress)) {
      WriteLog("Connection refused: " + connection->PeerAddress + " has " + std::to_string(fromAddress) +
               " command connections already (max_connections_per_address)");
    }
    if (admitted) {
      ++Metrics.CommandConnections;
      if (handedToSpare) {
        shared->SpareWake.notify_one();
      } else {
        StartWorker(shared, worker, connection);
      }
    }
    // After the new connection's thread has it, so that its first reply does
    // not wait for them.
    finished.clear();
    for (auto& done : ended) done->Thread.join();
    ended.clear();
  }
}

void TCommandServer::StartWorker(const std::shared_ptr<Shared>& shared, const std::shared_ptr<Worker>& worker,
                                 const std::shared_ptr<Connection>& connection) {
  try {
    worker->Thread = std::thread(RunWorker, shared, worker, connection);
  } catch (const std::system_error&) {
    // No thread could be made: the connection is dropped like one over the cap.
    TMutexLock guard(shared->ConnectionsLock);
    shared->Workers.remove(worker);
    if (connection) shared->Connections.remove(connection);
  }
}

void TCommandServer::RunWorker(std::shared_ptr<Shared> shared, std::shared_ptr<Worker> worker,
                               std::shared_ptr<Connection> connection) {
  // The thread's first allocations (which also set up its share of the
  // allocator) are made here, before any connection waits for them.
  ThreadScratch kept;
  kept.Dispatch.Call.Arguments.reserve(8);
  kept.Dispatch.Call.ReplyText.reserve(2);
  for (;;) {
    if (connection) ServeLines(shared->Handlers, shared->Limits, *connection, shared->Stopping, kept);
    TMutexLock lock(shared->ConnectionsLock);
    if (connection) {
      connection->Stream.Close();
      shared->Finished(*connection) = true;
      connection.reset();  // the listener lets it go
      shared->ConnectionsChanged.notify_all();
    }
    if (!shared->Stopping.load() && !shared->SpareWaiting) {
      // The spare: waits, without a time-out, for the next connection or the
      // release.
      shared->SpareWaiting = true;
      shared->SpareWake.wait(lock.Native(), [&]() REQUIRES(shared->ConnectionsLock) {
        return shared->HandedToSpare != nullptr || shared->Stopping.load();
      });
      shared->SpareWaiting = false;
      // A connection handed over is served even when the release has begun
      // (ServeLines then returns at once), so that it is marked finished.
      connection = std::move(shared->HandedToSpare);
      if (connection) continue;
    }
    shared->Ended(*worker) = true;
    shared->ConnectionsChanged.notify_all();
    return;
  }
}

int TCommandServer::ConnectionCount() const {
  TMutexLock guard(shared_->ConnectionsLock);
  return shared_->RunningCount();
}

bool TCommandServer::WaitConnectionCount(int count, int timeoutMs) const {
  TMutexLock lock(shared_->ConnectionsLock);
  return shared_->ConnectionsChanged.wait_for(lock.Native(), std::chrono::milliseconds(timeoutMs),
                                              [&]() REQUIRES(shared_->ConnectionsLock) { return shared_->RunningCount() == count; });
}

bool TCommandServer::Release() {
  if (released_) return true;
  released_ = true;

  // Stop accepting: wake the blocked accept and wait for the listener. The
  // spare wakes and ends.
  {
    TMutexLock guard(shared_->ConnectionsLock);
    shared_->Stopping.store(true);
  }
  shared_->ConnectionsChanged.notify_all();
  shared_->SpareWake.notify_all();
  if (shared_->Listener) shared_->Listener->Shutdown();
  if (listenerThread_.joinable()) listenerThread_.join();
  shared_->Listener.reset();

  // Close every connection: wakes the threads blocked in a read. A thread busy
  // in a handler ends after its handler returns.
  TMutexLock lock(shared_->ConnectionsLock);
  for (auto& connection : shared_->Connections) {
    if (!shared_->Finished(*connection)) connection->Stream.Shutdown();
  }

  // Wait for the threads, looking at least every TerminateCheckMs, at most
  // the termination wait; each ending thread wakes the wait early.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(terminateWaitMs_);
  const auto check = std::chrono::milliseconds(std::max(1, terminateCheckMs_));
  while (shared_->AnyWorkerRunning()) {
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    shared_->ConnectionsChanged.wait_for(lock.Native(), std::min<std::chrono::steady_clock::duration>(check, deadline - now));
  }
  const bool allEnded = !shared_->AnyWorkerRunning();
  std::list<std::shared_ptr<Connection>> connections;
  connections.swap(shared_->Connections);
  std::list<std::shared_ptr<Worker>> workers;
  workers.swap(shared_->Workers);
  lock.Unlock();

  for (auto& worker : workers) {
    // A thread that has not ended is left to end on its own; it holds its
    // connection and the shared state, so nothing it uses goes away.
    if (!worker->Thread.joinable()) continue;
    bool ended;
    {
      TMutexLock guard(shared_->ConnectionsLock);
      ended = shared_->Ended(*worker);
    }
    if (ended) {
      worker->Thread.join();
    } else {
      worker->Thread.detach();
    }
  }
  return allEnded;
}
