// Round trips of "<update>" over loopback with 1, 10 and 50 connections, and
// the first round trip of a new connection (connect, then the first update's
// reply), against our command server and, in the same run, against a
// baseline: a thread-per-connection line-reply server written below on plain
// POSIX calls. The baseline shares no code with ours (nor does the driving
// client), so a slowdown in our socket layer shows instead of cancelling out.
//
// The servers take turns in short slices of time (ABBA, so that neither always
// goes first); in a slice only one of them is loaded, so each figure is that
// server's alone. Per connection count and server:
//   p50 and p99 of the round trips of all its slices;
//   throughput: the requests answered in all its slices over the time they
//   took (to the last reply), so a stall anywhere in the run costs its share;
// and for new connections, the p50 and p99 of the first round trip, each on a
// server with no other connection open. Ratios are ours / baseline: latency
// above 1 is slower, throughput below 1 is slower.
//
// An odd number of runs (an even count is rounded up), each with both servers
// built afresh; the summary gives the median run's ratio and the range.
//
//   update_rtt [--pin] [--runs N, default 3] [--pairs N slices each, default 40]
//
// --pin: the servers' threads on CPU 0, the driving clients on CPU 1 (without
// it, the scheduler places every thread).
//
// Thread names: the baseline's threads "baseline", the clients "client", ours
// "update_rtt", so that a profile tells them apart (perf report --sort comm).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/limits.h"
#include "bench_support.h"
#include "channel/client_commands.h"
#include "channel/command_server.h"
#include "channel/command_table.h"
#include "platform/cpu_affinity.h"
#include "platform/program_dir.h"
#include "registry/busy_flag.h"
#include "registry/tables.h"
#include "supervision/server_state.h"

namespace {

using Clock = std::chrono::steady_clock;

double MicrosSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

[[noreturn]] void DieErrno(const std::string& what) { Die(what + ": " + std::strerror(errno)); }

// What our server answers to every line of this benchmark (checked on each
// connection's first line).
constexpr char kReply[] = "rpl:strue\r\n";

// The baseline: accept, a thread per connection, cut lines, answer each with
// our server's reply in one send. No socket options, no matching, no lock, no
// tables, no deadlines: the floor of this protocol shape on this machine.
class TBaselineServer {
 public:
  TBaselineServer() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) DieErrno("baseline socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, kListenQueue) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
      DieErrno("baseline listen");
    }
    port_ = ntohs(addr.sin_port);
    accepter_ = std::thread([this] {
      pthread_setname_np(pthread_self(), "baseline");  // the connection threads inherit it
      AcceptLoop();
    });
  }
  ~TBaselineServer() {
    ::shutdown(listenFd_, SHUT_RDWR);  // ends the accept
    accepter_.join();
    ::close(listenFd_);
    std::unique_lock<std::mutex> lock(lock_);
    for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
    changed_.wait(lock, [&] { return open_.empty(); });
  }
  TBaselineServer(const TBaselineServer&) = delete;
  TBaselineServer& operator=(const TBaselineServer&) = delete;

  uint16_t Port() const { return port_; }
  // Until every connection has ended.
  void WaitIdle() {
    std::unique_lock<std::mutex> lock(lock_);
    changed_.wait(lock, [&] { return open_.empty(); });
  }

 private:
  void AcceptLoop() {
    for (;;) {
      const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return;  // shut down
      }
      {
        std::lock_guard<std::mutex> guard(lock_);
        open_.push_back(fd);
      }
      std::thread([this, fd] {
        Serve(fd);
        std::lock_guard<std::mutex> guard(lock_);
        open_.erase(std::find(open_.begin(), open_.end(), fd));
        ::close(fd);
        changed_.notify_all();
      }).detach();
    }
  }

  static void Serve(int fd) {
    char buffer[4096];
    size_t held = 0;  // bytes of a line not yet whole
    for (;;) {
      const ssize_t got = ::recv(fd, buffer + held, sizeof buffer - held, 0);
      if (got <= 0) return;
      const size_t end = held + static_cast<size_t>(got);
      size_t start = 0;
      while (const void* lineFeed = std::memchr(buffer + start, '\n', end - start)) {
        if (::send(fd, kReply, sizeof kReply - 1, MSG_NOSIGNAL) != sizeof kReply - 1) return;
        start = static_cast<size_t>(static_cast<const char*>(lineFeed) - buffer) + 1;
      }
      held = end - start;
      if (held == sizeof buffer) return;  // a line longer than the buffer
      std::memmove(buffer, buffer + start, held);
    }
  }

  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::thread accepter_;
  std::mutex lock_;
  std::condition_variable changed_;  // signalled when a connection ends
  std::vector<int> open_;            // the open connections; guarded by lock_
};

// The driving client: one blocking connection, a send and a receive per
// request, on plain POSIX calls. Every receive is bounded (5 s), so a server
// that stops answering ends the benchmark instead of hanging it.
class TDriverConnection {
 public:
  explicit TDriverConnection(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) DieErrno("client socket");
    const int on = 1;
    const timeval bound{5, 0};
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0 ||
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound) != 0 ||
        ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      DieErrno("client connect to " + std::to_string(port));
    }
  }
  ~TDriverConnection() {
    if (fd_ >= 0) ::close(fd_);
  }
  TDriverConnection(TDriverConnection&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  TDriverConnection(const TDriverConnection&) = delete;
  TDriverConnection& operator=(const TDriverConnection&) = delete;

  // Sends the line (with its LF) and waits for one reply line; dies when none
  // comes. The reply is left in reply_.
  void Request(const std::string& lineWithFeed) {
    if (::send(fd_, lineWithFeed.data(), lineWithFeed.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(lineWithFeed.size())) {
      DieErrno("client send");
    }
    size_t got = 0;
    while (got == 0 || reply_[got - 1] != '\n') {
      const ssize_t n = ::recv(fd_, reply_ + got, sizeof reply_ - got, 0);
      if (n <= 0) Die("no reply");
      got += static_cast<size_t>(n);
      if (got == sizeof reply_) Die("reply too long");
    }
    replyLength_ = got;
  }
  bool ReplyIs(const char* expected) const {
    return std::string(reply_, replyLength_) == expected;
  }

 private:
  int fd_ = -1;
  char reply_[256];
  size_t replyLength_ = 0;
};

// prefix followed by n. (Appending, rather than "c" + std::to_string(n), keeps
// g++ 12 clear of a false -Wrestrict warning.)
std::string Numbered(const char* prefix, int n) {
  std::string text = prefix;
  text += std::to_string(n);
  return text;
}

// The update line of connection i, with its LF: every name is a registered
// client whose player is listed, so each update walks the whole path to
// "rpl:strue".
std::string LineOf(size_t i) {
  std::string line = "<update> ";
  line += Numbered("c", static_cast<int>(i % kTableSlots));
  line += " 1\n";
  return line;
}

struct TOptions {
  bool Pin = false;
  int Runs = 3;
  int Pairs = 40;
};

// With --pin, a driving thread keeps to CPU 1 (the servers keep to CPU 0).
void PinDriver(const TOptions& options) {
  std::string error;
  if (options.Pin && !platform::PinThreadToCpu(1, &error)) Die(error);
}

// What one server did in all its slices at one connection count.
struct TTally {
  std::vector<double> RoundTripsUs;
  double Seconds = 0;
};

// One slice: from a common start, every connection sends its next line as
// soon as the reply to its last is in, until `slice` has passed. The round
// trips and the slice's real length (to its last reply) go to tally.
void RunSlice(std::vector<TDriverConnection>& connections, std::chrono::milliseconds slice, const TOptions& options,
              TTally& tally) {
  const auto begin = Clock::now() + std::chrono::milliseconds(20);  // every thread is running by then
  const auto end = begin + slice;
  std::vector<std::vector<double>> samples(connections.size());
  std::vector<Clock::time_point> finished(connections.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < connections.size(); ++i) {
    threads.emplace_back([&, i] {
      PinDriver(options);
      const std::string line = LineOf(i);
      samples[i].reserve(4096);
      std::this_thread::sleep_until(begin);
      do {
        const auto start = Clock::now();
        connections[i].Request(line);
        samples[i].push_back(MicrosSince(start));
      } while (Clock::now() < end);
      finished[i] = Clock::now();
    });
  }
  for (auto& thread : threads) thread.join();
  tally.Seconds += std::chrono::duration<double>(*std::max_element(finished.begin(), finished.end()) - begin).count();
  for (const auto& each : samples) tally.RoundTripsUs.insert(tally.RoundTripsUs.end(), each.begin(), each.end());
}

struct TFigures {
  double P50Us = 0, P99Us = 0, PerSecond = 0;
};

TFigures FiguresOf(const TTally& tally) {
  return {Quantile(tally.RoundTripsUs, 0.5), Quantile(tally.RoundTripsUs, 0.99),
          tally.Seconds > 0 ? static_cast<double>(tally.RoundTripsUs.size()) / tally.Seconds : 0};
}

// Opens `count` connections to the server on port, one after another, each
// answered once before the next opens (so the listen queue never overflows).
std::vector<TDriverConnection> OpenConnections(uint16_t port, int count) {
  std::vector<TDriverConnection> connections;
  for (int i = 0; i < count; ++i) {
    connections.emplace_back(port);
    connections.back().Request(LineOf(static_cast<size_t>(i)));
    if (!connections.back().ReplyIs(kReply)) Die("the update does not walk the whole path");
  }
  return connections;
}

// The first round trip of a new connection: connect, send an update, read its
// reply. The connection is closed after the clock stops.
double FirstRoundTripUs(uint16_t port) {
  static const std::string line = LineOf(0);
  const auto start = Clock::now();
  TDriverConnection connection(port);
  connection.Request(line);
  const double us = MicrosSince(start);
  if (!connection.ReplyIs(kReply)) Die("unexpected first reply");
  return us;
}

// The ratios of one run: per connection count, then the first round trip.
struct TRatios {
  double P50 = 0, P99 = 0, Throughput = 0;
};
struct TRun {
  std::vector<TRatios> PerCount;  // for kCounts
  TRatios First;                  // P50 and P99 of the first round trip
};

constexpr int kCounts[] = {1, 10, 50};
constexpr int kNewConnections = 500;  // first round trips per server and run

// One run: builds both servers (their threads inherit the caller's CPU), then
// drives them from a thread of its own (on CPU 1 with --pin).
TRun Run(TServerState& state, const TOptions& options, int runNumber) {
  TCommandServer server;
  server.Configure(0, kListenQueue, kMaxConnections, 5000);
  RegisterClientCommands(server, CommandContextOf(state));
  std::string error;
  if (!server.Activate(&error)) Die("command server: " + error);
  TBaselineServer baseline;

  TRun run;
  std::thread driver([&] {
    PinDriver(options);
    pthread_setname_np(pthread_self(), "client");
    std::printf("\nRun %d of %d (%s)\n", runNumber, options.Runs,
                options.Pin ? "servers on CPU 0, clients on CPU 1" : "threads placed by the scheduler");
    std::printf("%5s %17s %17s %17s %6s %6s %6s\n", "conns", "p50 us ours/base", "p99 us ours/base",
                "req/s ours/base", "p50 x", "p99 x", "thr x");
    const auto slice = std::chrono::milliseconds(25);
    for (int count : kCounts) {
      std::vector<TDriverConnection> ours = OpenConnections(server.BoundPort(), count);
      std::vector<TDriverConnection> base = OpenConnections(baseline.Port(), count);
      TTally ourTally, baseTally;
      for (int pair = 0; pair < options.Pairs; ++pair) {
        if (pair % 2 == 0) {
          RunSlice(ours, slice, options, ourTally);
          RunSlice(base, slice, options, baseTally);
        } else {
          RunSlice(base, slice, options, baseTally);
          RunSlice(ours, slice, options, ourTally);
        }
      }
      const TFigures our = FiguresOf(ourTally), bas = FiguresOf(baseTally);
      run.PerCount.push_back({our.P50Us / bas.P50Us, our.P99Us / bas.P99Us, our.PerSecond / bas.PerSecond});
      const TRatios& r = run.PerCount.back();
      std::printf("%5d %8.1f/%-8.1f %8.1f/%-8.1f %8.0f/%-8.0f %6.2f %6.2f %6.2f\n", count, our.P50Us, bas.P50Us,
                  our.P99Us, bas.P99Us, our.PerSecond, bas.PerSecond, r.P50, r.P99, r.Throughput);
      std::fflush(stdout);
      ours.clear();
      base.clear();
      // The closed connections must have left before more open.
      server.WaitConnectionCount(0, 5000);
      baseline.WaitIdle();
    }

    TTally ourFirst, baseFirst;  // round trips only
    for (int i = 0; i < kNewConnections; ++i) {
      const bool oursFirst = i % 2 == 0;
      for (int turn = 0; turn < 2; ++turn) {
        if ((turn == 0) == oursFirst) {
          ourFirst.RoundTripsUs.push_back(FirstRoundTripUs(server.BoundPort()));
          server.WaitConnectionCount(0, 5000);
        } else {
          baseFirst.RoundTripsUs.push_back(FirstRoundTripUs(baseline.Port()));
          baseline.WaitIdle();
        }
      }
    }
    const TFigures our = FiguresOf(ourFirst), bas = FiguresOf(baseFirst);
    run.First = {our.P50Us / bas.P50Us, our.P99Us / bas.P99Us, 0};
    std::printf("%5s %8.1f/%-8.1f %8.1f/%-8.1f %17s %6.2f %6.2f\n", "new", our.P50Us, bas.P50Us, our.P99Us,
                bas.P99Us, "", run.First.P50, run.First.P99);
    std::fflush(stdout);
  });
  driver.join();
  server.Release();
  return run;
}

// The median of an odd number of values, and the range.
std::string MedianAndRange(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  char text[64];
  std::snprintf(text, sizeof text, "%5.2f (%4.2f-%4.2f)", values[values.size() / 2], values.front(), values.back());
  return text;
}

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

// Per connection count and for new connections: the median run's ratio and
// the range over the runs, against the goals.
void PrintSummary(const std::vector<TRun>& runs) {
  auto column = [&](auto pick) {
    std::vector<double> values;
    for (const TRun& run : runs) values.push_back(pick(run));
    return values;
  };
  auto median = [](std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  };
  std::printf("\nRatios ours/baseline: the median of %zu runs (lowest-highest)\n", runs.size());
  std::printf("%5s %-20s %-20s %-20s %s\n", "conns", "p50 x", "p99 x", "thr x", "goals");
  for (size_t c = 0; c < std::size(kCounts); ++c) {
    const auto p50 = column([&](const TRun& run) { return run.PerCount[c].P50; });
    const auto p99 = column([&](const TRun& run) { return run.PerCount[c].P99; });
    const auto thr = column([&](const TRun& run) { return run.PerCount[c].Throughput; });
    std::string goals = std::string("thr >= 0.95 ") + Verdict(median(thr) >= 0.95);
    if (kCounts[c] > 1) {
      goals += std::string(", p50 <= 1.05 ") + Verdict(median(p50) <= 1.05) + ", p99 <= 1.15 " +
               Verdict(median(p99) <= 1.15);
    }
    std::printf("%5d %-20s %-20s %-20s %s\n", kCounts[c], MedianAndRange(p50).c_str(), MedianAndRange(p99).c_str(),
                MedianAndRange(thr).c_str(), goals.c_str());
  }
  const auto first = column([](const TRun& run) { return run.First.P50; });
  std::printf("%5s %-20s %-20s %-20s p50 <= 1.15 %s\n", "new", MedianAndRange(first).c_str(),
              MedianAndRange(column([](const TRun& run) { return run.First.P99; })).c_str(), "",
              Verdict(median(first) <= 1.15));
}

TOptions ParseOptions(int argc, char** argv) {
  TOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--pin") {
      options.Pin = true;
    } else if ((arg == "--runs" || arg == "--pairs") && i + 1 < argc) {
      const int value = std::max(1, std::atoi(argv[++i]));
      (arg == "--runs" ? options.Runs : options.Pairs) = value;
    } else {
      Die("usage: update_rtt [--pin] [--runs N, odd, default 3] [--pairs N, default 40]");
    }
  }
  if (options.Runs % 2 == 0) {
    // With an even count, no run is the median: the upper middle one would be
    // reported, which is the better of two.
    ++options.Runs;
    std::fprintf(stderr, "update_rtt: an even number of runs has no median run; making it %d\n", options.Runs);
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const TOptions options = ParseOptions(argc, argv);
  const std::string dir = (std::filesystem::temp_directory_path() / "acserver-bench").string();
  std::filesystem::create_directories(dir);
  platform::SetDataDirectory(dir);
  TServerState state;
  state.Settings.ClientId = "clid";
  // A full table whose players are all listed, so every update walks the
  // whole path to "rpl:strue".
  {
    TBusyGuard busy(state.Tables);
    for (int i = 0; i < kTableSlots; ++i) {
      AddClient(busy, Numbered("c", i), Numbered("id", i), "127.0.0.1");
      AddPlayer(busy, Numbered("c", i), "127.0.0.1", 27005);
    }
  }
  // The servers' threads inherit the CPU of the thread that starts them.
  std::string error;
  if (options.Pin && !platform::PinThreadToCpu(0, &error)) Die(error);

  std::vector<TRun> runs;
  for (int run = 1; run <= options.Runs; ++run) runs.push_back(Run(state, options, run));
  PrintSummary(runs);
  return 0;
}
