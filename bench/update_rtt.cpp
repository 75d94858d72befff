// Round-trip time and throughput of "<update>" over loopback with 1, 10 and
// 50 connections, measured against our command server and, side by side in
// the same run, against a minimal thread-per-connection line-reply server: the
// limit of this protocol shape on this machine. Prints medians, p99s, requests
// per second and the ratios, with every thread spread over the CPUs and then
// pinned to one.
//
// The baseline's threads are named "baseline" and the client threads
// "client", so that a profile tells them from ours (perf report --sort comm).
//
//   update_rtt [rounds per connection at 1 connection, default 4000] [runs, default 1]
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/limits.h"
#include "base/settings.h"
#include "bench_support.h"
#include "channel/command_server.h"
#include "channel/command_table.h"
#include "clientsim/client_sim.h"
#include "platform/cpu_affinity.h"
#include "platform/program_dir.h"
#include "platform/socket.h"
#include "platform/tcp_options.h"
#include "registry/busy_flag.h"
#include "registry/tables.h"
#include "supervision/server_state.h"

namespace {

using Clock = std::chrono::steady_clock;

// The baseline: accept, a thread per connection with the same socket options
// as ours, cut lines, answer each with the bytes our server answers (one
// write). No matching, no lock, no tables, no deadlines.
class TBaselineServer {
 public:
  TBaselineServer() {
    std::string error;
    listener_ = platform::TTcpListener::Open(0, kListenQueue, &error, /*loopbackOnly=*/true);
    if (!listener_) {
      std::fprintf(stderr, "baseline: %s\n", error.c_str());
      std::exit(1);
    }
    accepter_ = std::thread([this] {
      while (auto stream = listener_->Accept()) {
        platform::SetNoDelay(*stream, nullptr);
        platform::SetKeepAlive(*stream, kKeepAliveIdleSeconds, kKeepAliveIntervalSeconds, kKeepAliveProbes, nullptr);
        platform::SetSendTimeout(*stream, kCommandSendTimeoutMs, nullptr);
        auto connection = std::make_shared<platform::TTcpStream>(std::move(*stream));
        std::lock_guard<std::mutex> guard(lock_);
        connections_.push_back(connection);
        threads_.emplace_back([connection] { Serve(*connection); });
      }
    });
  }
  ~TBaselineServer() {
    listener_->Shutdown();
    accepter_.join();
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& connection : connections_) connection->Shutdown();
    for (auto& thread : threads_) thread.join();
  }
  uint16_t Port() const { return listener_->LocalPort(); }

 private:
  static void Serve(platform::TTcpStream& stream) {
    pthread_setname_np(pthread_self(), "baseline");
    std::string buffer;
    char chunk[4096];
    for (;;) {
      size_t lineFeed = buffer.find('\n');
      if (lineFeed == std::string::npos) {
        long got = stream.Read(chunk, sizeof chunk);
        if (got <= 0) return;
        buffer.append(chunk, static_cast<size_t>(got));
        continue;
      }
      buffer.erase(0, lineFeed + 1);
      if (!stream.WriteAll("rpl:strue\r\n")) return;
    }
  }

  std::optional<platform::TTcpListener> listener_;
  std::thread accepter_;
  std::mutex lock_;  // guards connections_ and threads_
  std::list<std::shared_ptr<platform::TTcpStream>> connections_;
  std::vector<std::thread> threads_;
};

// prefix followed by n. (Appending, rather than "c" + std::to_string(n), keeps
// g++ 12 clear of a false -Wrestrict warning.)
std::string Numbered(const char* prefix, int n) {
  std::string text = prefix;
  text += std::to_string(n);
  return text;
}

struct Figures {
  double MedianUs = 0;
  double P99Us = 0;
  double PerSecond = 0;  // requests answered per second, all connections together
};

// Opens one connection to the server on port (served once before the next
// connection opens, so the listen queue never overflows).
clientsim::TClientSim OpenServed(uint16_t port, const std::string& line) {
  std::string error;
  auto client = clientsim::TClientSim::Open("127.0.0.1", port, &error);
  if (!client || !client->Command(line)) Die("connection to " + std::to_string(port) + ": " + error);
  return std::move(*client);
}

double TimedUpdate(clientsim::TClientSim& client, const std::string& line) {
  auto start = Clock::now();
  if (!client.Command(line)) Die("no reply");
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

std::string LineOf(size_t connection) {
  return clientsim::UpdateLine(Numbered("c", static_cast<int>(connection) % kTableSlots), "1");
}

// Round trips: `count` client threads, each with one connection to our server
// and one to the baseline, alternating between them round by round (and which
// goes first), so that both see the same load on the machine at the same
// moments.
void MeasureLatency(std::vector<clientsim::TClientSim>& ours, std::vector<clientsim::TClientSim>& base, int rounds,
                    Figures& ourFigures, Figures& baseFigures) {
  std::vector<std::vector<double>> ourSamples(ours.size()), baseSamples(base.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < ours.size(); ++i) {
    threads.emplace_back([&, i] {
      const std::string line = LineOf(i);
      pthread_setname_np(pthread_self(), "client");
      for (int round = 0; round < rounds; ++round) {
        if (round % 2 == 0) {
          ourSamples[i].push_back(TimedUpdate(ours[i], line));
          baseSamples[i].push_back(TimedUpdate(base[i], line));
        } else {
          baseSamples[i].push_back(TimedUpdate(base[i], line));
          ourSamples[i].push_back(TimedUpdate(ours[i], line));
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::vector<double> ourAll, baseAll;
  for (auto& each : ourSamples) ourAll.insert(ourAll.end(), each.begin(), each.end());
  for (auto& each : baseSamples) baseAll.insert(baseAll.end(), each.begin(), each.end());
  ourFigures.MedianUs = Quantile(ourAll, 0.5);
  ourFigures.P99Us = Quantile(ourAll, 0.99);
  baseFigures.MedianUs = Quantile(baseAll, 0.5);
  baseFigures.P99Us = Quantile(baseAll, 0.99);
}

// Requests answered in one slice of time by one server, every connection
// sending its next line as soon as the reply to the last one is in.
long CountAnswered(std::vector<clientsim::TClientSim>& clients, std::chrono::milliseconds slice) {
  // The start lies ahead, so that every thread is running before it.
  const auto begin = Clock::now() + std::chrono::milliseconds(20);
  const auto end = begin + slice;
  std::atomic<long> answered{0};
  std::vector<std::thread> threads;
  for (size_t i = 0; i < clients.size(); ++i) {
    threads.emplace_back([&, i] {
      const std::string line = LineOf(i);
      pthread_setname_np(pthread_self(), "client");
      std::this_thread::sleep_until(begin);
      long mine = 0;
      for (;;) {
        if (!clients[i].Command(line)) Die("no reply");
        if (Clock::now() > end) break;
        ++mine;
      }
      answered += mine;
    });
  }
  for (auto& thread : threads) thread.join();
  return answered.load();
}

// Throughput: short slices of time on our server and on the baseline in
// turns (ABBA, so that neither always goes first). Each pair of neighbouring
// slices gives one ratio, and the figure is the median of those: a burst of
// other work on the machine spoils a pair or two, not the figure. Returns
// that ratio; the rates are the counts summed per server.
double MeasureThroughput(std::vector<clientsim::TClientSim>& ours, std::vector<clientsim::TClientSim>& base,
                         Figures& ourFigures, Figures& baseFigures) {
  const auto slice = std::chrono::milliseconds(25);
  const int pairs = 40;
  long ourCount = 0, baseCount = 0;
  std::vector<double> pairRatios;
  for (int pair = 0; pair < pairs; ++pair) {
    long our, bas;
    if (pair % 2 == 0) {
      our = CountAnswered(ours, slice);
      bas = CountAnswered(base, slice);
    } else {
      bas = CountAnswered(base, slice);
      our = CountAnswered(ours, slice);
    }
    ourCount += our;
    baseCount += bas;
    if (bas > 0) pairRatios.push_back(static_cast<double>(our) / static_cast<double>(bas));
  }
  const double seconds = std::chrono::duration<double>(slice).count() * pairs;
  ourFigures.PerSecond = static_cast<double>(ourCount) / seconds;
  baseFigures.PerSecond = static_cast<double>(baseCount) / seconds;
  return Quantile(pairRatios, 0.5);
}

struct Ratios {
  double Median, P99, Throughput;
};

// Builds both servers (their threads inherit the caller's CPU pin), measures
// 1, 10 and 50 connections and prints one table; returns the ratios per count.
std::vector<Ratios> RunPhase(TServerState& state, const char* title, int baseRounds) {
  TCommandServer server;
  server.Configure(0, kListenQueue, kMaxConnections, 5000);
  RegisterClientCommands(server, CommandContextOf(state));
  std::string error;
  if (!server.Activate(&error)) Die("command server: " + error);
  TBaselineServer baseline;

  std::printf("\n%s\nupdate over loopback: round trip in microseconds, throughput in requests per second (ours vs baseline)\n",
              title);
  std::printf("%5s %8s %8s %8s %8s %9s %9s %6s %6s %6s\n", "conns", "med", "base med", "p99", "base p99", "req/s",
              "base r/s", "med x", "p99 x", "thr x");
  std::vector<Ratios> ratios;
  for (int count : {1, 10, 50}) {
    std::vector<clientsim::TClientSim> ours, base;
    for (int i = 0; i < count; ++i) {
      ours.push_back(OpenServed(server.BoundPort(), LineOf(static_cast<size_t>(i))));
      base.push_back(OpenServed(baseline.Port(), LineOf(static_cast<size_t>(i))));
    }
    Figures our, bas;
    MeasureLatency(ours, base, std::max(400, baseRounds / count * 2), our, bas);
    const double throughput = MeasureThroughput(ours, base, our, bas);
    ratios.push_back({our.MedianUs / bas.MedianUs, our.P99Us / bas.P99Us, throughput});
    std::printf("%5d %8.1f %8.1f %8.1f %8.1f %9.0f %9.0f %6.2f %6.2f %6.2f\n", count, our.MedianUs, bas.MedianUs,
                our.P99Us, bas.P99Us, our.PerSecond, bas.PerSecond, ratios.back().Median, ratios.back().P99,
                ratios.back().Throughput);
    std::fflush(stdout);
    ours.clear();
    base.clear();
    // The closed connections must have left before the next count opens more.
    server.WaitConnectionCount(0, 5000);
  }
  server.Release();
  return ratios;
}

// One line per connection count: the ratios of every run, then their median.
void PrintRuns(const char* title, const std::vector<std::vector<Ratios>>& runs) {
  std::printf("\n%s: ratios ours/baseline, run by run (median of the runs last)\n", title);
  const char* names[] = {"med x", "p99 x", "thr x"};
  const int counts[] = {1, 10, 50};
  for (size_t c = 0; c < 3; ++c) {
    for (int what = 0; what < 3; ++what) {
      std::vector<double> values;
      std::printf("%5d %-6s", counts[c], names[what]);
      for (const auto& run : runs) {
        const Ratios& r = run[c];
        values.push_back(what == 0 ? r.Median : what == 1 ? r.P99 : r.Throughput);
        std::printf(" %5.2f", values.back());
      }
      std::printf("  | %5.2f\n", Quantile(values, 0.5));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int baseRounds = argc > 1 ? std::atoi(argv[1]) : 4000;
  const int runs = std::max(1, argc > 2 ? std::atoi(argv[2]) : 1);
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

  const char* spreadTitle = "All CPUs (the scheduler places threads; figures vary with placement from run to run)";
  const char* pinnedTitle = "One CPU (every thread pinned to CPU 0: the servers' own costs, without wake-up placement)";
  std::vector<std::vector<Ratios>> spread, pinned;
  for (int run = 0; run < runs; ++run) spread.push_back(RunPhase(state, spreadTitle, baseRounds));
  std::string error;
  if (!platform::PinThreadToCpu(0, &error)) Die(error);
  for (int run = 0; run < runs; ++run) pinned.push_back(RunPhase(state, pinnedTitle, baseRounds));
  if (runs > 1) {
    PrintRuns("All CPUs", spread);
    PrintRuns("One CPU", pinned);
  }
  return 0;
}
