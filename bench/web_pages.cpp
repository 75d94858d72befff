// The web console's own speed: the round trip of the page ("/") and of
// /api/players (a report of 24 players) over one keep-alive connection, as a
// browser fetches them, side by side with the loopback baseline of the same
// run: a bare HTTP exchange with a minimal hand-written server that answers a
// body of the same size at once. Console and baseline alternate block by
// block, so a change in the machine's load meets both alike. Medians and
// p90s, and the ratios console / baseline.
//
//   web_pages [requests per block, default 200] [blocks per condition, default 6]
#include <fcntl.h>
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench_state.h"
#include "bench_support.h"
#include "base/settings.h"
#include "game/rcon_client.h"
#include "game/supervision_report.h"
#include "platform/program_dir.h"
#include "platform/socket.h"
#include "web/web_console.h"

namespace {

using Clock = std::chrono::steady_clock;

// The least an HTTP exchange on loopback costs: one connection, each request
// read to its blank line and answered at once with a fixed body.
class TBareServer {
 public:
  explicit TBareServer(std::string body) : body_(std::move(body)) {
    std::string error;
    auto listener = platform::TTcpListener::Open(0, 4, &error, /*loopbackOnly=*/true);
    if (!listener) Die("baseline: " + error);
    listener_.emplace(std::move(*listener));
    thread_ = std::thread([this] { Serve(); });
  }
  ~TBareServer() {
    listener_->Shutdown();
    if (stream_) stream_->Shutdown();
    thread_.join();
  }
  int Port() const { return listener_->LocalPort(); }

 private:
  void Serve() {
    auto stream = listener_->Accept();
    if (!stream) return;
    stream_ = &*stream;
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                               std::to_string(body_.size()) + "\r\n\r\n" + body_;
    std::string pending;
    char buffer[4096];
    for (;;) {
      const long n = stream->Read(buffer, sizeof buffer);
      if (n <= 0) return;
      pending.append(buffer, static_cast<size_t>(n));
      for (size_t end; (end = pending.find("\r\n\r\n")) != std::string::npos;) {
        pending.erase(0, end + 4);
        if (!stream->WriteAll(answer)) return;
      }
    }
  }

  std::string body_;
  std::optional<platform::TTcpListener> listener_;
  platform::TTcpStream* stream_ = nullptr;
  std::thread thread_;
};

// Round trips of one path over one keep-alive connection, in milliseconds.
void Fetch(httplib::Client& http, const std::string& path, int count, std::vector<double>& samples,
           size_t* bytes) {
  for (int i = 0; i < count; ++i) {
    const auto start = Clock::now();
    const httplib::Result result = http.Get(path);
    samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (!result || result->status != 200) Die("GET " + path + " failed");
    *bytes = result->body.size();
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int perBlock = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;
  const int blocks = argc > 2 ? std::max(1, std::atoi(argv[2])) : 6;
  FILE* out = ::fdopen(::dup(STDOUT_FILENO), "w");
  const int devNull = ::open("/dev/null", O_WRONLY);
  if (out == nullptr || devNull < 0 || ::dup2(devNull, STDOUT_FILENO) < 0) Die("cannot redirect standard output");

  const std::string dir = (std::filesystem::temp_directory_path() / "acserver-bench-pages").string();
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  platform::SetDataDirectory(dir);
  std::string error;
  auto probe = platform::TTcpListener::Open(0, 1, &error, /*loopbackOnly=*/true);
  if (!probe) Die(error);
  const int port = probe->LocalPort();
  probe->Close();
  TBenchState state;
  state.Settings.WebListen = "127.0.0.1:" + std::to_string(port);
  TSupervisionReport report;
  report.AtUnixSeconds = 1;
  report.Answered = true;
  for (int i = 0; i < 24; ++i) {
    report.Players.push_back({"Player " + std::to_string(i), "10.0.0." + std::to_string(i), 27005, 100 + i,
                              PlayerKind::Player, Protection::Client});
  }
  TLastSupervisionReport last;
  last.Publish(report);
  std::unique_ptr<TWebConsole> console =
      TWebConsole::Start({state.Settings, state.Tables, state.Bans, last, state.Rcon, state.Enforcement});
  if (!console) Die("the web console did not start");

  const char* paths[] = {"/", "/api/players"};
  std::vector<double> samples[2][2];  // [path][0: console, 1: baseline]
  for (int p = 0; p < 2; ++p) {
    httplib::Client http("127.0.0.1", port);
    http.set_keep_alive(true);
    size_t bytes = 0;
    Fetch(http, paths[p], 20, samples[p][0], &bytes);  // warm-up, and the body's size
    samples[p][0].clear();
    TBareServer bare(std::string(bytes, 'x'));
    httplib::Client baseline("127.0.0.1", bare.Port());
    baseline.set_keep_alive(true);
    Fetch(baseline, "/", 20, samples[p][1], &bytes);
    samples[p][1].clear();
    for (int block = 0; block < 2 * blocks; ++block) {
      if (block % 2 == 0) {
        Fetch(http, paths[p], perBlock, samples[p][0], &bytes);
      } else {
        Fetch(baseline, "/", perBlock, samples[p][1], &bytes);
      }
    }
    baseline.stop();
  }
  console->Stop();

  std::fprintf(out, "web_pages: %d requests per path and condition, one keep-alive connection\n",
               perBlock * blocks);
  std::fprintf(out, "%-14s %10s %10s %10s %10s %10s %10s\n", "path", "p50 ms", "base p50", "ratio", "p90 ms",
               "base p90", "ratio");
  for (int p = 0; p < 2; ++p) {
    const double p50 = Quantile(samples[p][0], 0.5), b50 = Quantile(samples[p][1], 0.5);
    const double p90 = Quantile(samples[p][0], 0.9), b90 = Quantile(samples[p][1], 0.9);
    std::fprintf(out, "%-14s %10.3f %10.3f %10.2f %10.3f %10.3f %10.2f\n", paths[p], p50, b50, p50 / b50, p90, b90,
                 p90 / b90);
  }
  std::fclose(out);
  return 0;
}
