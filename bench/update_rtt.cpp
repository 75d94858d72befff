// Round-trip time of "<update>" over loopback with 1, 10 and 50 connections,
// measured against our command server and, side by side in the same run,
// against a minimal thread-per-connection line-reply server: the limit of this
// protocol shape on this machine. Prints medians, p99s and the ratios.
//
//   update_rtt [rounds per connection at 1 connection, default 4000]
#include <algorithm>
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

#include "bench_state.h"
#include "base/limits.h"
#include "base/settings.h"
#include "channel/client_commands.h"
#include "channel/command_server.h"
#include "clientsim/client_sim.h"
#include "platform/cpu_affinity.h"
#include "platform/program_dir.h"
#include "platform/socket.h"
#include "registry/busy_flag.h"
#include "registry/tables.h"

namespace {

using Clock = std::chrono::steady_clock;

// The baseline: accept, a thread per connection, cut lines, answer each with
// one fixed line. No matching, no lock, no tables.
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
      if (!stream.WriteAll("rpl:true\r\n")) return;
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
};

Figures Summarise(std::vector<double>& samples) {
  std::sort(samples.begin(), samples.end());
  return Figures{samples[samples.size() / 2], samples[std::min(samples.size() - 1, samples.size() * 99 / 100)]};
}

// Opens one connection to the server on port (served once before the next
// connection opens, so the listen queue never overflows).
clientsim::TClientSim OpenServed(uint16_t port, const std::string& line) {
  std::string error;
  auto client = clientsim::TClientSim::Open("127.0.0.1", port, &error);
  if (!client || !client->Command(line)) {
    std::fprintf(stderr, "connection to %u: %s\n", port, error.c_str());
    std::exit(1);
  }
  return std::move(*client);
}

double TimedUpdate(clientsim::TClientSim& client, const std::string& line) {
  auto start = Clock::now();
  if (!client.Command(line)) std::exit(1);
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// `count` client threads, each with one connection to our server and one to
// the baseline, alternating between them round by round (and which goes first),
// so that both see the same load on the machine at the same moments.
std::pair<Figures, Figures> Measure(uint16_t ourPort, uint16_t basePort, int count, int rounds) {
  std::vector<clientsim::TClientSim> ours, base;
  for (int i = 0; i < count; ++i) {
    const std::string line = clientsim::UpdateLine(Numbered("c", i % kTableSlots), "1");
    ours.push_back(OpenServed(ourPort, line));
    base.push_back(OpenServed(basePort, line));
  }
  std::vector<std::vector<double>> ourSamples(ours.size()), baseSamples(base.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < ours.size(); ++i) {
    threads.emplace_back([&, i] {
      const std::string line = clientsim::UpdateLine(Numbered("c", i % kTableSlots), "1");
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
  return {Summarise(ourAll), Summarise(baseAll)};
}

// Builds both servers (their threads inherit the caller's CPU pin), measures
// 1, 10 and 50 connections and prints one table.
void RunPhase(TBenchState& state, const char* title, int baseRounds) {
  TCommandServer server;
  server.Configure(0, kListenQueue, kMaxConnections, 5000);
  server.RegisterCommand("<connect>", "ConnectCmd", state.ConnectHandler());
  server.RegisterCommand("<disconnect>", "DisConnectCmd", state.DisconnectHandler());
  server.RegisterCommand("<update>", "UpdateCmd", state.UpdateHandler());
  std::string error;
  if (!server.Activate(&error)) {
    std::fprintf(stderr, "command server: %s\n", error.c_str());
    std::exit(1);
  }
  TBaselineServer baseline;

  std::printf("\n%s\nupdate round trip over loopback, microseconds (ours vs baseline)\n", title);
  std::printf("%5s %10s %10s %10s %10s %8s %8s\n", "conns", "med", "base med", "p99", "base p99", "med x", "p99 x");
  for (int count : {1, 10, 50}) {
    const int rounds = std::max(400, baseRounds / count * 2);
    auto [ours, base] = Measure(server.BoundPort(), baseline.Port(), count, rounds);
    std::printf("%5d %10.1f %10.1f %10.1f %10.1f %8.2f %8.2f\n", count, ours.MedianUs, base.MedianUs, ours.P99Us,
                base.P99Us, ours.MedianUs / base.MedianUs, ours.P99Us / base.P99Us);
    // The closed connections must have left before the next count opens more.
    server.WaitConnectionCount(0, 5000);
  }
  server.Release();
}

}  // namespace

int main(int argc, char** argv) {
  const int baseRounds = argc > 1 ? std::atoi(argv[1]) : 4000;
  const std::string dir = (std::filesystem::temp_directory_path() / "acserver-bench").string();
  std::filesystem::create_directories(dir);
  platform::SetDataDirectory(dir);
  TBenchState state;
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

  RunPhase(state, "All CPUs (the scheduler places threads; figures vary with placement from run to run)", baseRounds);
  std::string error;
  if (!platform::PinThreadToCpu(0, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  RunPhase(state, "One CPU (every thread pinned to CPU 0: the servers' own costs, without wake-up placement)",
           baseRounds);
  return 0;
}
