// How long a supervision run takes against the game-server simulator on
// loopback, with 0 and with 5 players to kick, and what client commands wait
// meanwhile: the round trip of an "<update>" sent once the run's first
// datagram reached the game server, and the longest round trip of a second
// client that sends updates back to back from then until the run ends (a
// command waits whenever the run holds BusyFlag).
//
// Side by side in the same run, the baselines: a bare rcon exchange written
// out by hand (challenge, command, one answer datagram, no waits beyond the
// answers), times the number of exchanges the run makes; and the update round
// trip while no run is under way. Prints medians (the longest wait: the
// median of each run's longest, and the longest of all runs) and the ratios.
//
//   supervision_hold [runs per case, default 20]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
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

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

// The baseline exchange: challenge request, its answer, the command, one
// answer datagram. Nothing drained, nothing skipped, no grace.
double BareExchangeMs(uint16_t port) {
  std::string error;
  auto socket = platform::TUdpSocket::Open(&error);
  if (!socket) Die(error);
  const platform::Endpoint server{0x7F000001, port};
  const auto start = Clock::now();
  std::string data;
  platform::Endpoint from;
  socket->SendTo("\xFF\xFF\xFF\xFF" "challenge rcon", server, &error);
  socket->ReceiveFrom(data, from, 1000, kMaxDatagramBytes, &error);
  const std::string challenge = data.substr(19, data.find('\n') - 19);
  socket->SendTo("\xFF\xFF\xFF\xFF" "rcon " + challenge + " \"secret\" zelk_stat 1", server, &error);
  socket->ReceiveFrom(data, from, 1000, kMaxDatagramBytes, &error);
  return MsSince(start);
}

std::vector<gamesim::TSimPlayer> Players(int toKick) {
  std::vector<gamesim::TSimPlayer> players{{"Cli", "127.0.0.1:27005"}};
  for (int i = 0; i < toKick; ++i) players.push_back({"Stranger" + std::to_string(i), "10.0.0.9:27005"});
  return players;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 20;
  const std::string dir = (std::filesystem::temp_directory_path() / "acserver-bench-hold").string();
  std::filesystem::create_directories(dir);
  platform::SetDataDirectory(dir);
  TServerState state;
  state.Settings.ClientId = "clid";
  state.Settings.RconHost = "127.0.0.1";
  state.Settings.RconPass = "secret";

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
  auto prober = clientsim::TClientSim::Open("127.0.0.1", commands.BoundPort(), &error);
  if (!prober) Die("prober: " + error);
  const std::string update = clientsim::UpdateLine("Cli", "0");
  const std::vector<std::string> allowList;

  std::printf("supervision run against the simulator on loopback, %d runs per case, milliseconds (medians)\n", runs);
  std::printf("%6s %10s %12s %8s %12s %12s %8s %12s %12s %8s\n", "kicks", "run", "bare x n", "run x",
              "update rtt", "idle update", "rtt x", "longest wait", "worst of all", "worst x");
  for (int toKick : {0, 5}) {
    std::vector<double> hold, bare, during, idle, longest;
    for (int run = 0; run < runs; ++run) {
      sim.SetPlayers(Players(toKick));
      const size_t before = sim.Datagrams().size();
      // The client's update goes out once the run's first datagram reached
      // the game server, so it meets the run holding the flag.
      auto rtt = std::async(std::launch::async, [&] {
        sim.WaitForDatagrams(before + 1, 5000);
        const auto start = Clock::now();
        if (!client->Command(update)) Die("update lost");
        return MsSince(start);
      });
      // Updates back to back through the whole run: the longest round trip.
      std::atomic<bool> runOver{false};
      auto worst = std::async(std::launch::async, [&] {
        sim.WaitForDatagrams(before + 1, 5000);
        double most = 0;
        do {
          const auto start = Clock::now();
          if (!prober->Command(update)) Die("update lost");
          most = std::max(most, MsSince(start));
        } while (!runOver.load());
        return most;
      });
      const auto start = Clock::now();
      state.Supervision.Run(allowList, [] {});
      hold.push_back(MsSince(start));
      runOver.store(true);
      during.push_back(rtt.get());
      longest.push_back(worst.get());

      const auto idleStart = Clock::now();
      if (!client->Command(update)) Die("update lost");
      idle.push_back(MsSince(idleStart));
      double bareRun = 0;
      for (int exchange = 0; exchange < 1 + toKick; ++exchange) bareRun += BareExchangeMs(sim.Port());
      bare.push_back(bareRun);
    }
    const double worstOfAll = *std::max_element(longest.begin(), longest.end());
    std::printf("%6d %10.1f %12.2f %8.1f %12.1f %12.3f %8.1f %12.1f %12.1f %8.1f\n", toKick, Median(hold),
                Median(bare), Median(hold) / Median(bare), Median(during), Median(idle),
                Median(during) / Median(idle), Median(longest), worstOfAll, worstOfAll / Median(idle));
  }
  commands.Release();
  sim.Stop();
  return 0;
}
