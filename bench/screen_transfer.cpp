// Screenshot transfer benchmark.
//
// Speed: a 200 KB screenshot sent stop-and-wait in 30-byte pieces, to the
// screen receiver and, in the same run, to a minimal UDP server that answers
// every datagram "ok". The rounds alternate between the two; the figure is the
// ratio of the median times (goal: at most 1.3).
//
// Memory: ten transfers at once from ten loopback addresses (127.0.0.2 to
// 127.0.0.11). The peak resident size of the process during them must stay
// within 2 MiB of the size at rest plus the bytes under transfer.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "base/settings.h"
#include "base/timing.h"
#include "clientsim/screen_sender.h"
#include "platform/program_dir.h"
#include "registry/tables.h"
#include "channel/screen_commands.h"
#include "screens/screen_receiver.h"
#include "screens/screen_server.h"
#include "supervision/server_state.h"

namespace {

constexpr size_t kScreenBytes = 200 * 1024;
constexpr int kRounds = 25;
constexpr int kParallel = 10;

using Clock = std::chrono::steady_clock;

// A UDP server that answers every datagram "ok": the floor of stop-and-wait.
class TOkServer {
 public:
  TOkServer() {
    std::string error;
    socket_ = std::move(*platform::TUdpSocket::Open(&error));
    socket_.Bind(0, &error, /*loopbackOnly=*/true);
    thread_ = std::thread([this] {
      std::string data;
      platform::Endpoint from;
      std::string error;
      while (!stop_) {
        if (socket_.ReceiveFrom(data, from, 200, 8192, &error) == platform::ReceiveStatus::Datagram && !stop_) {
          socket_.SendTo("ok", from, &error);
        }
      }
    });
  }
  ~TOkServer() {
    stop_ = true;
    socket_.Shutdown();
    thread_.join();
  }
  uint16_t Port() const { return socket_.LocalPort(); }

 private:
  platform::TUdpSocket socket_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The state the commands and the receiver work on (a benchmark is a program of
// its own, so one set for the whole run).
TServerState state;
const SettingsRecord& settings = state.Settings;
TimingRecord& timing = state.Timing;
TTables& tables = state.Tables;

int AddClient(const std::string& name, const std::string& identifier, const std::string& address) {
  TBusyGuard busy(tables);
  return AddClient(busy, name, identifier, address);
}

void RemoveClient(const std::string& name) {
  TBusyGuard busy(tables);
  RemoveClient(busy, FindClientByName(busy, name));
}

// A command line run in-process, as the command channel would, from peer.
std::optional<std::string> RunLine(const std::string& line, const std::string& peer) {
  CommandCall call;
  call.PeerAddress = peer;
  call.Arguments = SplitArguments(line.substr(line.find(' ') + 1));
  (line.rfind("<start_screen>", 0) == 0 ? ScreenCmd : ChkScreenCmd)(CommandContextOf(state), call);
  return call.Reply();
}

long StatusKb(const std::string& key) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
  }
  return -1;
}

platform::Endpoint Loopback(uint16_t port) { return {*platform::ParseDottedAddress("127.0.0.1"), port}; }

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

clientsim::ScreenSendOptions Options(const std::string& name) {
  clientsim::ScreenSendOptions options;
  options.Name = name;
  options.CheckBeforeLast = false;  // pieces only, as the baseline gets
  return options;
}

// Ten clients, each from its own address, send at once. False on a failure.
bool MeasureMemory(uint16_t port, const std::string& screen) {
  std::vector<std::string> names;
  for (int i = 0; i < kParallel; ++i) {
    names.push_back(std::string("p").append(std::to_string(i)));  // not "p" + ...: a false -Wrestrict in g++ 12
    AddClient(names.back(), "id" + std::to_string(i), "127.0.0." + std::to_string(2 + i));
  }
  std::vector<std::optional<clientsim::TPieceSender>> senders;
  for (int i = 0; i < kParallel; ++i) {
    std::string error;
    senders.push_back(clientsim::TPieceSender::Open(Loopback(port), "127.0.0." + std::to_string(2 + i), &error));
    if (!senders.back()) {
      std::printf("cannot send from 127.0.0.%d: %s\n", 2 + i, error.c_str());
      return false;
    }
  }
  const long restKb = StatusKb("VmRSS");
  // Resets the peak to the current size, so that the peak read afterwards
  // belongs to the transfers alone.
  const bool peakReset = static_cast<bool>(std::ofstream("/proc/self/clear_refs") << "5");
  std::atomic<int> completed{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kParallel; ++i) {
    threads.emplace_back([&, i] {
      const std::string peer = "127.0.0." + std::to_string(2 + i);
      auto result = clientsim::SendScreenshot([&](const std::string& line) { return RunLine(line, peer); },
                                              *senders[static_cast<size_t>(i)], screen, Options(names[static_cast<size_t>(i)]));
      if (result.Completed) ++completed;
    });
  }
  for (auto& thread : threads) thread.join();
  const long peakKb = StatusKb("VmHWM");
  const long transferKb = static_cast<long>(kParallel * screen.size() / 1024);
  const long allowedKb = restKb + 2048 + transferKb;
  std::printf("memory: %d of %d transfers complete; at rest %ld KiB, peak %ld KiB (peak reset: %s)\n",
              completed.load(), kParallel, restKb, peakKb, peakReset ? "yes" : "no, peak since start");
  std::printf("memory: peak - rest = %ld KiB; bytes under transfer %ld KiB; allowed %ld KiB -> %s\n",
              peakKb - restKb, transferKb, allowedKb, peakKb <= allowedKb ? "within" : "OVER");
  for (const auto& name : names) RemoveClient(name);
  return completed == kParallel;
}

// The receiver's own work per piece, without the network: one whole transfer
// handed straight to HandleScreenDatagram.
double HandlerNanosPerPiece(const std::string& screen) {
  AddClient("Solo", "id", "127.0.0.99");
  RunLine("<start_screen> Solo " + std::to_string(screen.size()), "127.0.0.99");
  const auto begin = Clock::now();
  long pieces = 0;
  for (size_t offset = 0; offset < screen.size(); offset += 30, ++pieces) {
    HandleScreenDatagram(tables, settings, screen.substr(offset, 30), "127.0.0.99");
  }
  const double nanos = std::chrono::duration<double, std::nano>(Clock::now() - begin).count();
  RemoveClient("Solo");
  return nanos / static_cast<double>(pieces);
}

}  // namespace

int main() {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("acserver-bench-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  platform::SetDataDirectory(dir.string());
  timing.ScreenStopCheckMs = 200;

  std::string screen(kScreenBytes, '\0');
  std::mt19937 rng(42);
  for (char& c : screen) c = static_cast<char>(rng());

  TScreenServer receiver(tables, settings, timing);
  std::string error;
  if (!receiver.Activate(0, &error)) {
    std::printf("cannot start the receiver: %s\n", error.c_str());
    return 1;
  }

  TOkServer baseline;

  bool ok = MeasureMemory(receiver.BoundPort(), screen);

  AddClient("Bob", "ABC123", "127.0.0.1");
  auto toReceiver = clientsim::TPieceSender::Open(Loopback(receiver.BoundPort()), "", &error);
  auto toBaseline = clientsim::TPieceSender::Open(Loopback(baseline.Port()), "", &error);
  std::vector<double> receiverTimes, baselineTimes;
  const long pieces = static_cast<long>((kScreenBytes + 29) / 30);
  for (int round = 0; round < kRounds && ok; ++round) {
    auto begin = Clock::now();
    auto result = clientsim::SendScreenshot([](const std::string& line) { return RunLine(line, "127.0.0.1"); },
                                            *toReceiver, screen, Options("Bob"));
    receiverTimes.push_back(Seconds(Clock::now() - begin));
    ok = result.Completed && result.Datagrams == pieces;

    begin = Clock::now();
    result = clientsim::SendScreenshot([](const std::string&) { return std::optional<std::string>("rpl:true"); },
                                       *toBaseline, screen, Options("Bob"));
    baselineTimes.push_back(Seconds(Clock::now() - begin));
    ok = ok && result.Completed;
  }
  if (ok) {
    const double receiverMedian = Median(receiverTimes);
    const double baselineMedian = Median(baselineTimes);
    std::printf("speed: %ld pieces of 30 bytes, %d rounds each, alternating\n", pieces, kRounds);
    std::printf("speed: receiver  median %.1f ms, %.0f pieces/s\n", receiverMedian * 1000, pieces / receiverMedian);
    std::printf("speed: 'ok' echo median %.1f ms, %.0f pieces/s\n", baselineMedian * 1000, pieces / baselineMedian);
    std::printf("speed: time ratio receiver / echo = %.2f (goal <= 1.3); best round against best round %.2f\n",
                receiverMedian / baselineMedian,
                *std::min_element(receiverTimes.begin(), receiverTimes.end()) /
                    *std::min_element(baselineTimes.begin(), baselineTimes.end()));
    std::printf("speed: handler alone, in-process: %.0f ns per piece\n", HandlerNanosPerPiece(screen));
    std::printf("speed: on a machine with few CPUs the two threads of a round trip may land on different\n"
                "       CPUs for one server and not the other; run under 'taskset -c 0' to compare the servers\n"
                "       themselves (the handler time above is what the receiver adds per piece)\n");
  } else {
    std::printf("a transfer failed\n");
  }
  receiver.Release();
  std::filesystem::remove_all(dir);
  return ok ? 0 : 1;
}
