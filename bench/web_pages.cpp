// The web console's own speed: the round trip of the page ("/") and of
// /api/players (a report of 24 players) over one keep-alive connection, as a
// browser fetches them, side by side with the loopback baseline of the same
// run: a bare HTTP exchange with a minimal hand-written server that answers a
// body of the same size at once. Console and baseline alternate block by
// block, so a change in the machine's load meets both alike. Medians and
// p90s, and the ratios console / baseline.
//
//   web_pages [requests per block, default 200] [blocks per condition, default 6]
//
// With "search" first, the Bans tab instead: a record base of 100,000 records
// (20,000 of them one identifier's), searched through the console as the page
// searches (a name's part, "STEAM_0", the first page of all, one record's
// details with the first page of its history), once while nothing else runs
// and once while 50 clients send "<update>" back to back on the command port,
// block by block. p50, p99 and the ratios loaded / quiet; the answer's size.
// The clients run in a process of their own, as real clients run on other
// machines: their CPU is the load's, not the server's. With "pinned" the
// server is on CPU 0 and the clients on CPU 1, so the server's threads share
// one CPU among themselves and the figures do not depend on where the
// scheduler happens to place them.
//
//   web_pages search [searches per block, default 40] [blocks per condition, default 5] [pinned]
//
// With "public" first, the public ban list (web_public) instead, as a player's
// browser asks for it without a login: 100,000 records, 10,000 of them in
// force in zelk_bans.txt, 1,000 appeals; a page of the bans in force (the
// default view: their enforced ends are read from zelk_bans.txt and their
// appeals from acserver.db), a page of 100, a page deep in all records, a
// name's part, an identifier, and the page itself. p50 and p99 of each; the
// goal is a page under 50 ms at p99.
//
//   web_pages public [requests per shape, default 400]
#include <fcntl.h>
#include <sys/wait.h>
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <atomic>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "channel/command_server.h"
#include "channel/command_table.h"
#include "clientsim/client_sim.h"
#include "bans/appeal.h"
#include "bans/records/appeal_base.h"
#include "bans/records/record_base.h"
#include "bans/records/recorded_file_store.h"
#include "bench_support.h"
#include "base/settings.h"
#include "rcon/rcon_client.h"
#include "supervision/server_state.h"
#include "supervision/supervision_report.h"
#include "platform/cpu_affinity.h"
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

// The 50 clients of the loaded condition, in a child process forked before
// the bench starts any thread. The parent writes "start <port>" to make them
// connect and update back to back, "stop" to end them; the child then answers
// with the number of updates answered meanwhile.
class TLoadDriver {
 public:
  explicit TLoadDriver(bool pinned) {
    int down[2], up[2];
    if (::pipe(down) != 0 || ::pipe(up) != 0) Die("pipe failed");
    pid_ = ::fork();
    if (pid_ < 0) Die("fork failed");
    if (pid_ == 0) {
      ::close(down[1]);
      ::close(up[0]);
      std::string error;
      if (pinned && !platform::PinThreadToCpu(1, &error)) Die(error);
      Serve(down[0], up[1]);
      ::_exit(0);
    }
    ::close(down[0]);
    ::close(up[1]);
    commands_ = ::fdopen(down[1], "w");
    answers_ = ::fdopen(up[0], "r");
  }
  ~TLoadDriver() {
    std::fclose(commands_);
    std::fclose(answers_);
    ::waitpid(pid_, nullptr, 0);
  }
  void Start(int port) {
    std::fprintf(commands_, "start %d\n", port);
    std::fflush(commands_);
    char line[64];
    if (std::fgets(line, sizeof line, answers_) == nullptr) Die("the load driver ended");
  }
  long Stop() {
    std::fprintf(commands_, "stop\n");
    std::fflush(commands_);
    char line[64];
    if (std::fgets(line, sizeof line, answers_) == nullptr) Die("the load driver ended");
    return std::atol(line);
  }

 private:
  static void Serve(int in, int out) {
    FILE* commands = ::fdopen(in, "r");
    FILE* answers = ::fdopen(out, "w");
    char line[64];
    while (std::fgets(line, sizeof line, commands) != nullptr) {
      const int port = std::atoi(line + 6);
      std::atomic<bool> stop{false};
      std::atomic<long> updates{0};
      std::latch connected(50);
      std::vector<std::thread> clients;
      for (int c = 0; c < 50; ++c) {
        clients.emplace_back([&, c] {
          std::string e;
          auto client = clientsim::TClientSim::Open("127.0.0.1", port, &e);
          const std::string name = "Client" + std::to_string(c);
          // 32 take a slot; the others' updates are answered as unknown, each a
          // round through the handler and BusyFlag all the same.
          if (!client || !client->Command(clientsim::ConnectLine(name, "id-" + name, "clid"))) Die("connect: " + e);
          connected.count_down();
          const std::string update = clientsim::UpdateLine(name, "0");
          while (!stop) {
            if (!client->Command(update)) Die("update failed");
            ++updates;
          }
        });
      }
      connected.wait();
      std::fprintf(answers, "started\n");
      std::fflush(answers);
      if (std::fgets(line, sizeof line, commands) == nullptr) stop = true;
      stop = true;
      for (std::thread& client : clients) client.join();
      std::fprintf(answers, "%ld\n", updates.load());
      std::fflush(answers);
    }
  }

  pid_t pid_ = -1;
  FILE* commands_ = nullptr;
  FILE* answers_ = nullptr;
};

// The Bans tab under load; see the head of the file.
int SearchBench(TLoadDriver& driver, bool pinned, int perBlock, int blocks, FILE* out) {
  std::string error;
  if (pinned && !platform::PinThreadToCpu(0, &error)) Die(error);
  const std::string dir = (std::filesystem::temp_directory_path() / "acserver-bench-search").string() + "/";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  platform::SetDataDirectory(dir);
  {
    records::TRecordBase base;
    if (!base.Open(dir + "acserver.db", &error)) Die(error);
    std::vector<TBanRecord> batch;
    for (int i = 0; i < 100000; ++i) {
      TBanRecord record;
      record.Identifier = i % 5 == 0 ? "STEAM_0:1:777" : "STEAM_0:0:" + std::to_string(100000 + i);
      record.Name = "Player " + std::to_string(i) + " \xD0\x98\xD0\xB3\xD1\x80\xD0\xBE\xD0\xBA";
      record.Address = "10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) + "." +
                       std::to_string(i % 256);
      record.Reason = i % 2 ? "wallhack" : "aimbot";
      record.MadeAt = 1700000000 + i;
      record.EndsAt = record.MadeAt + 3600;
      batch.push_back(record);
      if (batch.size() == 5000) {
        if (!base.AddAll(batch, &error)) Die(error);
        batch.clear();
      }
    }
  }
  records::TRecordedFileStore store(dir + "acserver.db");
  TServerState state;
  state.Bans.Use(&store);
  state.Settings.ClientId = "clid";
  const int port = [] {
    std::string e;
    auto probe = platform::TTcpListener::Open(0, 1, &e, /*loopbackOnly=*/true);
    if (!probe) Die(e);
    return probe->LocalPort();
  }();
  state.Settings.WebListen = "127.0.0.1:" + std::to_string(port);
  TLastSupervisionReport last;
  std::unique_ptr<TWebConsole> console =
      TWebConsole::Start({state.Settings, state.Tables, state.Bans, last, state.Rcon, state.Enforcement});
  if (!console) Die("the web console did not start");
  TCommandServer commands;
  commands.Configure(0, 64, 64, 5000);
  RegisterClientCommands(commands, CommandContextOf(state));
  if (!commands.Activate(&error)) Die(error);

  httplib::Client http("127.0.0.1", port);
  http.set_keep_alive(true);
  http.set_read_timeout(60);
  const httplib::Result first = http.Get("/api/bans?filter=all&q=STEAM_0:1:777&per_page=1");
  if (!first || first->status != 200) Die("search failed");
  const std::string manyId = first->body.substr(first->body.find("{\"id\":") + 6,
                                                first->body.find(',', first->body.find("{\"id\":")) -
                                                    first->body.find("{\"id\":") - 6);
  const std::vector<std::pair<std::string, std::string>> shapes = {
      {"name part", "/api/bans?filter=all&q=layer%2012"},
      {"STEAM_0", "/api/bans?filter=all&q=STEAM_0"},
      {"first page", "/api/bans?filter=all"},
      {"details", "/api/bans/" + manyId}};
  std::vector<double> samples[4][2];  // [shape][0: quiet, 1: 50 clients updating]
  size_t bytes[4] = {};
  long updates = 0;
  for (const auto& [name, path] : shapes) Fetch(http, path, 3, samples[0][0], &bytes[0]);  // warm-up
  samples[0][0].clear();
  for (int block = 0; block < 2 * blocks; ++block) {
    const int loaded = block % 2;
    if (loaded) driver.Start(commands.BoundPort());
    for (size_t k = 0; k < shapes.size(); ++k) Fetch(http, shapes[k].second, perBlock, samples[k][loaded], &bytes[k]);
    if (loaded) updates += driver.Stop();
  }
  console->Stop();
  std::fprintf(out, "web_pages search: 100,000 records (20,000 of one identifier), %d searches per shape and "
               "condition; %ld updates answered meanwhile; %s\n", perBlock * blocks, updates,
               pinned ? "server on CPU 0, clients on CPU 1" : "threads placed by the scheduler");
  std::fprintf(out, "%-11s %9s %9s %9s %9s %9s %9s %10s\n", "shape", "quiet p50", "load p50", "ratio", "quiet p99",
               "load p99", "ratio", "bytes");
  for (size_t k = 0; k < shapes.size(); ++k) {
    const double q50 = Quantile(samples[k][0], 0.5), l50 = Quantile(samples[k][1], 0.5);
    const double q99 = Quantile(samples[k][0], 0.99), l99 = Quantile(samples[k][1], 0.99);
    std::fprintf(out, "%-11s %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f %10zu\n", shapes[k].first.c_str(), q50, l50,
                 l50 / q50, q99, l99, l99 / q99, bytes[k]);
  }
  return 0;
}

// The public ban list; see the head of the file.
int PublicBench(int requests, FILE* out) {
  std::string error;
  const std::string dir = (std::filesystem::temp_directory_path() / "acserver-bench-public").string() + "/";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  platform::SetDataDirectory(dir);
  std::string file;
  {
    records::TRecordBase base;
    if (!base.Open(dir + "acserver.db", &error)) Die(error);
    std::vector<TBanRecord> batch;
    for (int i = 0; i < 100000; ++i) {
      TBanRecord record;
      record.Identifier = "STEAM_0:0:" + std::to_string(100000 + i);
      record.Name = "Player " + std::to_string(i) + " \xD0\x98\xD0\xB3\xD1\x80\xD0\xBE\xD0\xBA";
      record.Address = "10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) + "." +
                       std::to_string(i % 256);
      record.Reason = i % 2 ? "wallhack" : "aimbot";
      record.MadeAt = 1700000000 + i;
      // Every tenth is in force: for ever, or for days, in the file too.
      const bool inForce = i % 10 == 0;
      record.EndsAt = inForce && i % 20 == 0 ? 0 : 1900000000 + i;
      if (inForce) file += (record.EndsAt == 0 ? "\"p\" \"" : "\"40000\" \"") + record.Identifier + "\"\r\n";
      batch.push_back(record);
      if (batch.size() == 5000) {
        if (!base.AddAll(batch, &error)) Die(error);
        batch.clear();
      }
    }
  }
  std::ofstream(dir + "zelk_bans.txt", std::ios::binary) << file;
  records::TRecordedFileStore store(dir + "acserver.db");
  records::TSqliteAppeals appeals(dir + "acserver.db");
  // The newest 1,000 bans in force have one each: every page of the default view shows appeals.
  for (int i = 0; i < 1000; ++i) {
    TAppeal appeal;
    appeal.BanId = 1 + 10 * static_cast<int64_t>(9999 - i);  // record i is id i + 1; every tenth is in force
    appeal.MadeAt = 1800000000 + i;
    appeal.Text = "not me";
    appeal.Address = "10.9." + std::to_string(i / 256) + "." + std::to_string(i % 256);
    if (appeals.File(appeal, {1000, 1000000}, &error) == AppealFiling::Failed) Die(error);
  }
  TServerState state;
  state.Bans.Use(&store);
  const int port = [] {
    std::string e;
    auto probe = platform::TTcpListener::Open(0, 1, &e, /*loopbackOnly=*/true);
    if (!probe) Die(e);
    return probe->LocalPort();
  }();
  state.Settings.WebListen = "127.0.0.1:" + std::to_string(port);
  state.Settings.WebPublic = true;
  TLastSupervisionReport last;
  std::unique_ptr<TWebConsole> console = TWebConsole::Start(
      {state.Settings, state.Tables, state.Bans, last, state.Rcon, state.Enforcement, nullptr, {}, {}, &appeals});
  if (!console) Die("the web console did not start");
  httplib::Client http("127.0.0.1", port);
  http.set_keep_alive(true);
  http.set_read_timeout(60);
  const std::vector<std::pair<std::string, std::string>> shapes = {
      {"in force, page 1", "/api/public/bans"},
      {"in force, 100", "/api/public/bans?per_page=100"},
      {"all, page 900", "/api/public/bans?filter=all&page=900"},
      {"name part", "/api/public/bans?filter=all&q=layer%2012"},
      {"identifier", "/api/public/bans?filter=all&q=STEAM_0:0:150000"},
      {"the page", "/bans"}};
  std::vector<std::vector<double>> samples(shapes.size());
  std::vector<size_t> bytes(shapes.size());
  for (size_t k = 0; k < shapes.size(); ++k) Fetch(http, shapes[k].second, 5, samples[k], &bytes[k]);  // warm-up
  for (auto& shape : samples) shape.clear();
  // Round robin, so that a change in the machine's load meets every shape alike.
  for (int round = 0; round < requests / 10; ++round) {
    for (size_t k = 0; k < shapes.size(); ++k) Fetch(http, shapes[k].second, 10, samples[k], &bytes[k]);
  }
  console->Stop();
  std::fprintf(out, "web_pages public: 100,000 records (10,000 in force), 1,000 appeals, %d requests per shape\n",
               requests / 10 * 10);
  std::fprintf(out, "%-17s %9s %9s %10s  %s\n", "shape", "p50 ms", "p99 ms", "bytes", "goal p99 < 50 ms");
  for (size_t k = 0; k < shapes.size(); ++k) {
    const double p99 = Quantile(samples[k], 0.99);
    std::fprintf(out, "%-17s %9.2f %9.2f %10zu  %s\n", shapes[k].first.c_str(), Quantile(samples[k], 0.5), p99,
                 bytes[k], p99 < 50 ? "met" : "MISSED");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "public") {
    FILE* out = ::fdopen(::dup(STDOUT_FILENO), "w");
    const int devNull = ::open("/dev/null", O_WRONLY);
    if (out == nullptr || devNull < 0 || ::dup2(devNull, STDOUT_FILENO) < 0) Die("cannot redirect standard output");
    const int result = PublicBench(argc > 2 ? std::max(10, std::atoi(argv[2])) : 400, out);
    std::fclose(out);
    return result;
  }
  const bool search = argc > 1 && std::string(argv[1]) == "search";
  if (search) {
    --argc;
    ++argv;
  }
  const int perBlock = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;
  const int blocks = argc > 2 ? std::max(1, std::atoi(argv[2])) : 6;
  FILE* out = ::fdopen(::dup(STDOUT_FILENO), "w");
  const int devNull = ::open("/dev/null", O_WRONLY);
  if (out == nullptr || devNull < 0 || ::dup2(devNull, STDOUT_FILENO) < 0) Die("cannot redirect standard output");
  if (search) {
    const bool pinned = argc > 3 && std::string(argv[3]) == "pinned";
    TLoadDriver driver(pinned);  // forked before any thread starts
    const int result = SearchBench(driver, pinned, argc > 1 ? std::max(5, std::atoi(argv[1])) : 40,
                                   argc > 2 ? std::max(1, std::atoi(argv[2])) : 5, out);
    std::fclose(out);
    return result;
  }

  const std::string dir = (std::filesystem::temp_directory_path() / "acserver-bench-pages").string();
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  platform::SetDataDirectory(dir);
  std::string error;
  auto probe = platform::TTcpListener::Open(0, 1, &error, /*loopbackOnly=*/true);
  if (!probe) Die(error);
  const int port = probe->LocalPort();
  probe->Close();
  TServerState state;
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
