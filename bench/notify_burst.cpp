// Whether a burst of notifications slows the clients' replies: the round
// trips of "<update>" from 10 clients on the command port, block by block,
// once quiet and once while the notifier works off 1,000 ban notices posted
// at the block's start (a wave of bans) to a receiver that takes 5 ms each,
// as a chat service answers. Blocks alternate, so a change in the machine's
// load meets both alike. Prints p50, p99 and updates per second of each
// condition and the ratios burst / quiet (goal: at most 1.05).
//
// With "control" last, nothing is posted in either condition: the ratios then
// show the bench's own noise on this machine.
//
//   notify_burst [blocks per condition, default 5] [block length in ms, default 1000] [control]
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "channel/command_server.h"
#include "channel/command_table.h"
#include "clientsim/client_sim.h"
#include "notify/notifier.h"
#include "platform/program_dir.h"
#include "registry/tables.h"
#include "supervision/server_state.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TTally {
  std::vector<double> RoundTripsUs;
  double Seconds = 0;
};

// Every client sends updates back to back until the block ends.
void RunBlock(std::vector<clientsim::TClientSim>& clients, std::chrono::milliseconds length, TTally& tally) {
  const auto end = Clock::now() + length;
  std::vector<std::vector<double>> samples(clients.size());
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  for (size_t i = 0; i < clients.size(); ++i) {
    threads.emplace_back([&, i] {
      const std::string line = clientsim::UpdateLine("c" + std::to_string(i), "1");
      while (Clock::now() < end) {
        const auto sent = Clock::now();
        if (clients[i].Command(line, 5000).value_or("") != "rpl:strue") Die("unexpected reply");
        samples[i].push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  tally.Seconds += std::chrono::duration<double>(Clock::now() - start).count();
  for (const auto& each : samples) tally.RoundTripsUs.insert(tally.RoundTripsUs.end(), each.begin(), each.end());
}

}  // namespace

int main(int argc, char** argv) {
  const int blocks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const std::chrono::milliseconds length(argc > 2 ? std::max(100, std::atoi(argv[2])) : 1000);
  const bool control = argc > 3 && std::string(argv[3]) == "control";
  const std::string dir = (std::filesystem::temp_directory_path() / "acserver-bench-notify").string() + "/";
  std::filesystem::create_directories(dir);
  platform::SetDataDirectory(dir);

  // The receiver runs in a process of its own, as a chat service runs on
  // another machine: its work is not the server's. Forked before any thread.
  int portPipe[2];
  if (::pipe(portPipe) != 0) Die("pipe failed");
  const pid_t receiverPid = ::fork();
  if (receiverPid < 0) Die("fork failed");
  if (receiverPid == 0) {
    httplib::Server receiver;
    receiver.Post("/hook", [](const httplib::Request&, httplib::Response& response) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      response.status = 204;
    });
    const int port = receiver.bind_to_any_port("127.0.0.1");
    if (::write(portPipe[1], &port, sizeof port) != sizeof port) ::_exit(1);
    receiver.listen_after_bind();
    ::_exit(0);
  }
  int receiverPort = 0;
  if (::read(portPipe[0], &receiverPort, sizeof receiverPort) != sizeof receiverPort) Die("no receiver");

  TServerState state;
  state.Settings.ClientId = "clid";
  TCommandServer commands;
  commands.Configure(0, 64, 64, 5000);
  RegisterClientCommands(commands, CommandContextOf(state));
  std::string error;
  if (!commands.Activate(&error)) Die(error);
  std::vector<clientsim::TClientSim> clients;
  for (int i = 0; i < 10; ++i) {
    const std::string name = "c" + std::to_string(i);
    auto client = clientsim::TClientSim::Open("127.0.0.1", commands.BoundPort(), &error);
    if (!client || !client->Command(clientsim::ConnectLine(name, "id-" + name, "clid"))) Die("connect: " + error);
    clients.push_back(std::move(*client));
    TBusyGuard busy(state.Tables);
    AddPlayer(busy, name, "127.0.0.1", 27005);
  }
  TNotifier notifier({"http://127.0.0.1:" + std::to_string(receiverPort) + "/hook"}, NotifyFormat::Discord);

  TTally tally[2];  // 0: quiet, 1: a burst of notifications under way
  for (int block = 0; block < 2 * blocks; ++block) {
    const int burst = block % 2;
    if (burst && !control) {
      for (int i = 0; i < 1000; ++i) {
        TNotice notice;
        notice.Event = "ban";
        notice.Summary = "Ban of Player " + std::to_string(i) + ": aimbot";
        notice.Title = "Banned";
        notifier.Post(std::move(notice));
      }
    }
    RunBlock(clients, length, tally[burst]);
  }
  notifier.Stop();
  ::kill(receiverPid, SIGTERM);
  ::waitpid(receiverPid, nullptr, 0);

  const auto p = [&](int which, double q) { return Quantile(tally[which].RoundTripsUs, q); };
  const auto rate = [&](int which) { return tally[which].RoundTripsUs.size() / tally[which].Seconds; };
  std::printf("notify_burst: 10 clients, %d blocks of %lld ms per condition, 1,000 notices posted at the start of "
              "each burst block\n", blocks, static_cast<long long>(length.count()));
  std::printf("%-8s %10s %10s %12s\n", "", "p50 us", "p99 us", "updates/s");
  std::printf("%-8s %10.1f %10.1f %12.0f\n", "quiet", p(0, 0.5), p(0, 0.99), rate(0));
  std::printf("%-8s %10.1f %10.1f %12.0f\n", "burst", p(1, 0.5), p(1, 0.99), rate(1));
  std::printf("ratio burst / quiet: p50 %.3f  p99 %.3f  throughput %.3f  (goal: p50 at most 1.05: %s)\n",
              p(1, 0.5) / p(0, 0.5), p(1, 0.99) / p(0, 0.99), rate(1) / rate(0),
              p(1, 0.5) / p(0, 0.5) <= 1.05 ? "met" : "MISSED");
  return 0;
}
