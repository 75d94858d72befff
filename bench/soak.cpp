// Soak: the real program under 30 clients for 5 minutes. Each client, from an
// address of its own (127.0.0.2 to 127.0.0.31), registers, sends an update
// every 2 s and a 50 KB screenshot every 20 s; their players are on the
// simulated game server, which the program supervises on a 100 ms tick
// (a supervision run every 3 s). The program's resident size is read every
// 10 s; the baseline is the size after the first 30 s, when every client is
// in and the first screenshots are done.
//
// Nothing may be lost: every update answered as a registered client's, every
// screenshot saved whole, no player kicked. Memory must stay flat: the goal is
// an end-to-baseline ratio of at most 1.10. Exit status 1 when either fails.
//
//   soak [seconds, default 300]   (run from the build directory: it starts ./acserver)
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <latch>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "clientsim/client_sim.h"
#include "clientsim/screen_sender.h"
#include "gamesim/game_server_sim.h"
#include "platform/program_dir.h"
#include "platform/socket.h"
#include "registrysim/registry_sim.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kClients = 30;
constexpr auto kUpdateEvery = std::chrono::seconds(2);
constexpr auto kScreenEvery = std::chrono::seconds(20);
constexpr size_t kScreenBytes = 50 * 1024;
constexpr auto kSampleEvery = std::chrono::seconds(10);
constexpr auto kWarmUp = std::chrono::seconds(30);
constexpr double kGoalRatio = 1.10;

struct TTally {
  std::latch Registered{kClients};  // counted down by each client once its connect is answered (or failed)
  std::atomic<long> Updates{0};
  std::atomic<long> UpdatesLost{0};  // not answered, or answered as an unknown client
  std::atomic<long> Screens{0};
  std::atomic<long> ScreensFailed{0};
};

long ResidentKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// A port P for the game server such that P + 1000 is free for the program.
bool StartGameServer(gamesim::TGameServerSim& game) {
  std::mt19937 random(static_cast<unsigned>(::getpid()));
  for (int attempt = 0; attempt < 50; ++attempt) {
    const auto port = static_cast<uint16_t>(20000 + random() % 40000);
    std::string error;
    auto tcp = platform::TTcpListener::Open(static_cast<uint16_t>(port + 1000), 1, &error);
    auto udp = platform::TUdpSocket::Open(&error);
    if (!tcp || !udp || !udp->Bind(static_cast<uint16_t>(port + 1000), &error)) continue;
    tcp->Close();
    udp->Close();
    if (game.Start(port, &error)) return true;
  }
  return false;
}

// Starts the program in dir with its output in dir/console.txt.
pid_t StartProgram(const std::string& program, const std::string& dir) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  const int out = ::open((dir + "console.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::dup2(out, STDOUT_FILENO);
  ::dup2(out, STDERR_FILENO);
  ::setenv("ACSERVER_HOME", dir.c_str(), 1);
  ::setenv("ACSERVER_TICK_MS", "100", 1);
  ::setenv("LC_ALL", "C", 1);
  ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
  ::_exit(127);
}

void RunClient(int index, int port, Clock::time_point end, TTally& tally) {
  const std::string address = "127.0.0." + std::to_string(2 + index);
  const std::string name = "player" + std::to_string(index);
  std::string error;
  auto client = clientsim::TClientSim::Open("127.0.0.1", port, &error, address);
  auto pieces = clientsim::TPieceSender::Open({0x7F000001, static_cast<uint16_t>(port)}, address, &error);
  const auto reply = client ? client->Command(clientsim::ConnectLine(name, "ID-" + name, "abc"), 20000) : std::nullopt;
  if (!client || !pieces || !reply || reply->rfind("rpl:accept", 0) != 0) {
    std::fprintf(stderr, "soak: %s could not register: %s\n", name.c_str(), error.c_str());
    tally.UpdatesLost += 1;
    tally.Registered.count_down();
    return;
  }
  tally.Registered.count_down();
  std::string screen(kScreenBytes, '\0');
  std::mt19937 random(static_cast<unsigned>(index));
  for (char& c : screen) c = static_cast<char>(random());
  auto commands = [&](const std::string& line) { return client->Command(line, 20000); };
  // Spread the clients over the intervals.
  Clock::time_point nextUpdate = Clock::now() + std::chrono::milliseconds(index * 60);
  Clock::time_point nextScreen = Clock::now() + std::chrono::milliseconds(index * 600);
  while (Clock::now() < end) {
    std::this_thread::sleep_until(std::min(nextUpdate, nextScreen));
    if (Clock::now() >= nextUpdate) {
      const auto answer = commands(clientsim::UpdateLine(name, "1"));
      ++tally.Updates;
      if (!answer || (*answer != "rpl:true" && *answer != "rpl:strue")) ++tally.UpdatesLost;
      nextUpdate += kUpdateEvery;
    }
    if (Clock::now() >= nextScreen) {
      clientsim::ScreenSendOptions options;
      options.Name = name;
      const clientsim::ScreenSendResult sent = clientsim::SendScreenshot(commands, *pieces, screen, options);
      ++tally.Screens;
      if (!sent.Completed) {
        ++tally.ScreensFailed;
        std::fprintf(stderr, "soak: %s screenshot: %s\n", name.c_str(), sent.Error.c_str());
      }
      nextScreen += kScreenEvery;
    }
  }
}

size_t SavedScreens(const std::string& dir) {
  size_t files = 0;
  if (!fs::exists(dir)) return 0;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file() && entry.path().extension() == ".jpg" && entry.file_size() == kScreenBytes) ++files;
  }
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(40, std::atoi(argv[1])) : 300;
  const std::string program = platform::ProgramFileDirectory() + "acserver";
  char pattern[] = "/tmp/acserver-soak.XXXXXX";
  const std::string dir = std::string(::mkdtemp(pattern)) + "/";

  gamesim::TGameServerSim game;
  registrysim::TRegistrySim registry;
  std::string error;
  game.SetPassword("secret");
  // The soak runs for minutes with kicks and chat on a 100 ms tick; it measures
  // acserver, not the engine's limit of 180 datagrams a minute.
  game.SetRateLimit(0);
  registry.SetAnswer("ok");
  if (!StartGameServer(game) || !registry.Start(0, &error)) {
    std::fprintf(stderr, "soak: simulators: %s\n", error.c_str());
    return 1;
  }
  const int port = game.Port() + 1000;
  std::ofstream(dir + "zelk_config.txt") << "\"rconhost\" \"127.0.0.1\"\n\"rconport\" \"" << game.Port()
                                         << "\"\n\"rconpass\" \"secret\"\n\"cl_id\" \"abc\"\n\"allow_screens\" \"1\"\n"
                                         << "\"registry_host\" \"127.0.0.1:" << registry.Port() << "\"\n";
  const pid_t pid = StartProgram(program, dir);
  // The first supervision run resets the tables; clients register after it.
  if (!game.WaitForDatagrams(1, 15000)) {
    std::fprintf(stderr, "soak: %s did not start (see %sconsole.txt)\n", program.c_str(), dir.c_str());
    ::kill(pid, SIGKILL);
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));

  const Clock::time_point start = Clock::now();
  const Clock::time_point end = start + std::chrono::seconds(seconds);
  TTally tally;
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) clients.emplace_back(RunClient, i, port, end, std::ref(tally));
  // The players join once their clients are in, as on a real server.
  tally.Registered.wait();
  std::vector<gamesim::TSimPlayer> players;
  for (int i = 0; i < kClients; ++i) {
    players.push_back({"player" + std::to_string(i), "127.0.0." + std::to_string(2 + i) + ":27005"});
  }
  game.SetPlayers(players);

  std::vector<long> samples;  // kB, one per kSampleEvery
  long baseline = -1;
  for (Clock::time_point next = start + kSampleEvery; next <= end; next += kSampleEvery) {
    std::this_thread::sleep_until(next);
    samples.push_back(ResidentKb(pid));
    if (baseline < 0 && next - start >= kWarmUp) baseline = samples.back();
    std::printf("soak: %3lds  resident %ld kB\n", static_cast<long>((next - start) / std::chrono::seconds(1)),
                samples.back());
    std::fflush(stdout);
  }
  for (std::thread& client : clients) client.join();

  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  const size_t kicks = game.Kicks().size();
  const size_t saved = SavedScreens(dir + "zelk_screens/");
  const long last = samples.empty() ? -1 : samples.back();
  const long peak = samples.empty() ? -1 : *std::max_element(samples.begin(), samples.end());
  const double ratio = baseline > 0 ? static_cast<double>(last) / static_cast<double>(baseline) : 0;
  std::printf("soak: %d clients, %d s: %ld updates (%ld lost), %ld screenshots (%ld failed, %zu files saved), "
              "%zu kicks\n",
              kClients, seconds, tally.Updates.load(), tally.UpdatesLost.load(), tally.Screens.load(),
              tally.ScreensFailed.load(), saved, kicks);
  std::printf("soak: resident kB: baseline (after %ld s) %ld, end %ld, peak %ld; end/baseline %.3f (goal <= %.2f)\n",
              static_cast<long>(kWarmUp / std::chrono::seconds(1)), baseline, last, peak, ratio, kGoalRatio);
  const bool nothingLost = tally.UpdatesLost == 0 && tally.ScreensFailed == 0 && kicks == 0 &&
                           saved == static_cast<size_t>(tally.Screens.load()) && WIFEXITED(status) &&
                           WEXITSTATUS(status) == 0;
  const bool flat = ratio > 0 && ratio <= kGoalRatio;
  std::printf("soak: %s, %s\n", nothingLost ? "nothing lost" : "SOMETHING LOST", flat ? "memory flat" : "MEMORY GREW");
  if (nothingLost && flat) fs::remove_all(dir);
  else std::printf("soak: the run's files are in %s\n", dir.c_str());
  return nothingLost && flat ? 0 : 1;
}
