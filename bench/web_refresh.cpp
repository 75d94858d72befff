// What an open web console costs the work that matters: the time a
// supervision run holds BusyFlag (0 and 5 players to kick), the round trip of
// an "<update>" sent while the run holds it, and the round trip of updates
// sent back to back for 1.5 s between runs. The same measurement as
// supervision_hold (and the one-connection case of update_rtt), made
// in one process without the web console and with it: a TWebConsole listening
// on loopback and a thread that fetches what the page reads (/, every
// /api/... list, /metrics) once a second, over one keep-alive connection as a
// browser does. That is more than the page asks (it refreshes the tab shown
// every 3 s).
//
// The two conditions alternate block by block, so that a change in the
// machine's load meets both alike. Besides the ratios with / without, the
// "A/A" columns compare the first and the second half of the samples without
// the console: the noise of this machine, against which the ratios are read.
// Medians, p90s and p99s; a p99 of a few hundred samples rests on its few
// largest.
// The program's console lines (every kick) go to /dev/null; the table goes to
// the original standard output.
//
//   web_refresh [runs per case and condition, default 160] [blocks per condition, default 8]
#include <fcntl.h>
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "base/limits.h"
#include "base/settings.h"
#include "channel/command_server.h"
#include "channel/command_table.h"
#include "clientsim/client_sim.h"
#include "rcon/rcon_client.h"
#include "supervision/server_state.h"
#include "supervision/supervise.h"
#include "gamesim/game_server_sim.h"
#include "platform/program_dir.h"
#include "platform/socket.h"
#include "screens/screen_receiver.h"
#include "web/web_console.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::vector<gamesim::TSimPlayer> Players(int toKick) {
  std::vector<gamesim::TSimPlayer> players{{"Cli", "127.0.0.1:27005"}};
  for (int i = 0; i < toKick; ++i) players.push_back({"Stranger" + std::to_string(i), "10.0.0.9:27005"});
  return players;
}

// The samples of one condition, each list in milliseconds.
struct TSamples {
  std::vector<double> Hold[2];    // by case: 0 kicks, 5 kicks
  std::vector<double> During[2];  // update round trip while the run holds the flag
  std::vector<double> Idle;       // update round trip, no supervision run under way
};

// Fetches what the page reads, once a second, until stopped.
class TRefresher {
 public:
  explicit TRefresher(int port) : http_("127.0.0.1", port) {
    http_.set_keep_alive(true);
    thread_ = std::thread([this] { Run(); });
  }
  ~TRefresher() { Stop(); }
  // Ends the fetching and joins the thread. Idempotent.
  void Stop() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  // After Stop.
  int Requests() const { return requests_; }
  int Failures() const { return failures_; }
  long Bytes() const { return bytes_; }  // of the bodies received
  // How long each round of fetches took.
  const std::vector<double>& RoundMs() const { return roundMs_; }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(lock_);
    auto next = Clock::now();
    do {
      lock.unlock();
      const auto start = Clock::now();
      for (const char* path : {"/", "/api/status", "/api/players", "/api/clients", "/api/bans", "/api/screens",
                               "/api/logs", "/metrics"}) {
        const httplib::Result result = http_.Get(path);
        ++requests_;
        if (!result || result->status != 200) ++failures_;
        if (result) bytes_ += static_cast<long>(result->body.size());
      }
      roundMs_.push_back(MsSince(start));
      lock.lock();
      next += std::chrono::seconds(1);  // a round a second, however long each takes
    } while (!wake_.wait_until(lock, next, [this] { return stopping_; }));
  }

  httplib::Client http_;
  std::thread thread_;
  std::mutex lock_;  // guards stopping_
  std::condition_variable wake_;
  bool stopping_ = false;
  // The refresher thread's own until Stop.
  int requests_ = 0;
  int failures_ = 0;
  long bytes_ = 0;
  std::vector<double> roundMs_;
};

int FreeTcpPort() {
  std::string error;
  auto listener = platform::TTcpListener::Open(0, 1, &error, /*loopbackOnly=*/true);
  if (!listener) Die("no free port: " + error);
  return listener->LocalPort();
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(4, std::atoi(argv[1])) : 160;
  const int blocks = argc > 2 ? std::max(2, std::atoi(argv[2])) : 8;
  const int runsPerBlock = std::max(1, runs / blocks);
  const auto idlePerBlock = std::chrono::milliseconds(1500);  // of updates back to back

  // The table goes to the original standard output; the program's console lines nowhere.
  FILE* out = ::fdopen(::dup(STDOUT_FILENO), "w");
  const int devNull = ::open("/dev/null", O_WRONLY);
  if (out == nullptr || devNull < 0 || ::dup2(devNull, STDOUT_FILENO) < 0) Die("cannot redirect standard output");

  const std::string dir = (std::filesystem::temp_directory_path() / "acserver-bench-web").string();
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  platform::SetDataDirectory(dir);
  TServerState state;
  state.Settings.ClientId = "clid";
  state.Settings.RconHost = "127.0.0.1";
  state.Settings.RconPass = "secret";
  state.Settings.AllowScreens = true;
  // One screenshot for the screens list.
  std::filesystem::create_directories(ScreenRootDirectory(state.Settings) + "127.0.0.1");
  std::ofstream(ScreenRootDirectory(state.Settings) + "127.0.0.1/^01.01.26^12.00.00^IP^127.0.0.1^ID^id-cli.jpg")
      << std::string(20000, 'j');

  gamesim::TGameServerSim sim;
  sim.SetPassword("secret");
  // Supervision runs back to back here: the engine's 180 datagrams a minute
  // would end the measurement within a second.
  sim.SetRateLimit(0);
  sim.SetStatusMark("de_dust2");
  std::string error;
  if (!sim.Start(0, &error)) Die(error);
  state.Settings.RconPort = sim.Port();

  if (!state.Rcon.Open(&error)) Die(error);
  TCommandServer commands;
  commands.Configure(0, kListenQueue, kMaxConnections, 5000);
  RegisterClientCommands(commands, CommandContextOf(state));
  if (!commands.Activate(&error)) Die(error);
  auto client = clientsim::TClientSim::Open("127.0.0.1", commands.BoundPort(), &error);
  if (!client || !client->Command(clientsim::ConnectLine("Cli", "id-cli", "clid"))) Die("connect: " + error);
  const std::string update = clientsim::UpdateLine("Cli", "0");
  const std::vector<std::string> allowList;

  TSamples samples[2];  // without, with the web console
  int requests = 0, failures = 0;
  long bytes = 0;
  std::vector<double> refreshRounds;
  for (int block = 0; block < 2 * blocks; ++block) {
    const int condition = block % 2;
    std::unique_ptr<TWebConsole> console;
    std::unique_ptr<TRefresher> refresher;
    if (condition == 1) {
      const int port = FreeTcpPort();
      state.Settings.WebListen = "127.0.0.1:" + std::to_string(port);
      console = TWebConsole::Start(
          {state.Settings, state.Tables, state.Bans, state.Supervision.Report(), state.Rcon, state.Enforcement});
      if (!console) Die("the web console did not start on " + state.Settings.WebListen);
      refresher = std::make_unique<TRefresher>(port);
    }
    TSamples& into = samples[condition];
    for (int kickCase = 0; kickCase < 2; ++kickCase) {
      for (int run = 0; run < runsPerBlock; ++run) {
        sim.SetPlayers(Players(kickCase == 0 ? 0 : 5));
        const size_t before = sim.Datagrams().size();
        // The update goes out once the run's first datagram reached the game
        // server, so it meets the run holding the flag.
        auto rtt = std::async(std::launch::async, [&] {
          sim.WaitForDatagrams(before + 1, 5000);
          const auto start = Clock::now();
          if (!client->Command(update)) Die("update lost");
          return MsSince(start);
        });
        const auto start = Clock::now();
        state.Supervision.Run(allowList, [] {});
        into.Hold[kickCase].push_back(MsSince(start));
        into.During[kickCase].push_back(rtt.get());
      }
    }
    for (const auto end = Clock::now() + idlePerBlock; Clock::now() < end;) {
      const auto start = Clock::now();
      if (!client->Command(update)) Die("update lost");
      into.Idle.push_back(MsSince(start));
    }
    if (refresher) {
      refresher->Stop();
      requests += refresher->Requests();
      failures += refresher->Failures();
      bytes += refresher->Bytes();
      refreshRounds.insert(refreshRounds.end(), refresher->RoundMs().begin(), refresher->RoundMs().end());
    }
    if (console) console->Stop();
  }

  std::fprintf(out,
               "supervision against the simulator on loopback, without and with the web console refreshed every "
               "second;\n%d runs per case and condition in %d alternating blocks, then %lld ms of updates back to "
               "back in each block; milliseconds\n\n",
               runsPerBlock * blocks, blocks, static_cast<long long>(idlePerBlock.count()));
  std::fprintf(out, "%-27s%27s%27s%20s%20s   %s\n", "", "without", "with", "with/without", "A/A (noise)",
               "samples");
  std::fprintf(out, "%-27s", "");
  for (int set = 0; set < 2; ++set) std::fprintf(out, " %8s %8s %8s", "median", "p90", "p99");
  for (int set = 0; set < 2; ++set) std::fprintf(out, "   %5s %5s %5s", "med", "p90", "p99");
  std::fprintf(out, "   without / with\n");
  auto line = [&](const char* label, const std::vector<double>& without, const std::vector<double>& with) {
    // The A/A halves: the first and the second half of the samples without
    // the console, in the order of the blocks.
    const auto half = without.begin() + static_cast<long>(without.size() / 2);
    const std::vector<double> first(without.begin(), half), second(half, without.end());
    std::fprintf(out, "%-27s", label);
    for (const std::vector<double>* set : {&without, &with}) {
      std::fprintf(out, " %8.3f %8.3f %8.3f", Quantile(*set, 0.5), Quantile(*set, 0.9), Quantile(*set, 0.99));
    }
    for (const auto& [a, b] : {std::make_pair(&with, &without), std::make_pair(&first, &second)}) {
      std::fprintf(out, "   %5.3f %5.3f %5.3f", Quantile(*a, 0.5) / Quantile(*b, 0.5), Quantile(*a, 0.9) / Quantile(*b, 0.9),
                   Quantile(*a, 0.99) / Quantile(*b, 0.99));
    }
    std::fprintf(out, "   %zu / %zu\n", without.size(), with.size());
  };
  line("hold, 0 kicks", samples[0].Hold[0], samples[1].Hold[0]);
  line("hold, 5 kicks", samples[0].Hold[1], samples[1].Hold[1]);
  line("update during run, 0 kicks", samples[0].During[0], samples[1].During[0]);
  line("update during run, 5 kicks", samples[0].During[1], samples[1].During[1]);
  line("update, idle", samples[0].Idle, samples[1].Idle);
  std::fprintf(out,
               "\nweb console: %d requests, %d failed, %ld bytes in %zu rounds; one round of the 8 fetches: "
               "median %.2f ms, p90 %.2f ms\n",
               requests, failures, bytes, refreshRounds.size(), Quantile(refreshRounds, 0.5),
               Quantile(refreshRounds, 0.9));
  std::fclose(out);
  commands.Release();
  sim.Stop();
  return failures == 0 ? 0 : 1;
}
