#include "engine/engine_support.h"

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <regex>

#include <httplib.h>

#include "base/settings.h"

namespace enginetest {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kEngineLifeSeconds = 300;  // the engine ends by itself after this

}  // namespace

TEngine::TEngine(std::string password, int maxPlayers)
    : password_(std::move(password)), maxPlayers_(maxPlayers), port_(testenv::PickRconPort()) {}

TEngine::~TEngine() { Stop(); }

bool TEngine::Start(std::string* error) {
  const std::string runScript = std::string(ENGINE_DIR) + "/hlds/run.sh";
  if (!std::filesystem::exists(runScript)) {
    *error = "no engine build at " + std::string(ENGINE_DIR) + " (the EngineBuild test makes it)";
    return false;
  }
  process_.emplace("/bin/bash",
                   std::vector<std::string>{"PORT=" + std::to_string(port_), "RCONPASS=" + password_,
                                            "LIFE=" + std::to_string(kEngineLifeSeconds),
                                            "MAXPLAYERS=" + std::to_string(maxPlayers_)},
                   "/", std::vector<std::string>{runScript});
  // Ready when it hands out a challenge (about 4 s); asked from 127.0.0.9 so
  // that no test address has asked before.
  TRconProbe probe(port_, "127.0.0.9");
  for (int attempt = 0; attempt < 40; ++attempt) {
    if (probe.Exchange(kFF + "challenge rcon\n", 500).size() == 1) return true;
    if (process_->WaitForExit(0) >= 0) break;
  }
  *error = "the engine did not answer on port " + std::to_string(port_) + ":\n" + process_->Output();
  return false;
}

void TEngine::Stop() {
  if (!process_) return;
  process_->Signal(SIGTERM);
  process_->WaitForExit(10000);
  process_.reset();
}

std::string TEngine::Output() { return process_ ? process_->Output() : std::string(); }

bool TEngine::WaitForOutput(const std::string& text, int timeoutMs, int times) {
  return process_ && process_->WaitForOutput(text, timeoutMs, times);
}

std::vector<std::string> Reassemble(const std::vector<std::string>& received) {
  std::vector<std::string> datagrams;
  std::map<std::string, std::map<int, std::string>> pending;  // by sequence bytes
  for (const std::string& data : received) {
    if (data.rfind("\xFE\xFF\xFF\xFF", 0) != 0 || data.size() < 9) {
      datagrams.push_back(data);
      continue;
    }
    const std::string sequence = data.substr(4, 4);
    const int count = data[8] & 0x0F;
    const int index = (static_cast<unsigned char>(data[8]) >> 4) & 0x0F;
    auto& pieces = pending[sequence];
    pieces[index] = data.substr(9);
    if (static_cast<int>(pieces.size()) == count) {
      std::string whole;
      for (const auto& [i, piece] : pieces) whole += piece;
      datagrams.push_back(whole);
      pending.erase(sequence);
    }
  }
  return datagrams;
}

std::string AnswerText(const std::vector<std::string>& datagrams) {
  std::string text;
  for (const std::string& datagram : datagrams) {
    if (datagram.rfind(kFF + "l", 0) != 0) continue;
    const std::string body = datagram.substr(5);
    text += body.substr(0, body.find('\0'));
  }
  return text;
}

TRconProbe::TRconProbe(int port, const std::string& localAddress, uint16_t localPort) {
  std::string error;
  auto socket = platform::TUdpSocket::Open(&error);
  if (!socket) throw std::runtime_error(error);
  socket_ = std::move(*socket);
  if (!socket_.BindTo({*platform::ParseDottedAddress(localAddress), localPort}, &error)) {
    throw std::runtime_error(error);
  }
  server_ = {*platform::ParseDottedAddress("127.0.0.1"), static_cast<uint16_t>(port)};
}

std::vector<std::string> TRconProbe::Exchange(const std::string& payload, int firstWaitMs) {
  std::string error;
  std::vector<std::string> received;
  if (!socket_.SendTo(payload, server_, &error)) return received;
  for (int waitMs = firstWaitMs;; waitMs = 200) {
    std::string data;
    platform::Endpoint from;
    if (socket_.ReceiveFrom(data, from, waitMs, 8192, &error) != platform::ReceiveStatus::Datagram) break;
    received.push_back(data);
  }
  return received;
}

std::string TRconProbe::Challenge() {
  const auto answers = Exchange(kFF + "challenge rcon\n");
  const std::string prefix = kFF + "challenge rcon ";
  if (answers.size() != 1 || answers[0].rfind(prefix, 0) != 0) return "?";
  const std::string rest = answers[0].substr(prefix.size());
  return rest.substr(0, rest.find_first_of(std::string("\n\0", 2)));
}

std::vector<std::string> TRconProbe::Rcon(const std::string& password, const std::string& command) {
  if (challenge_.empty()) challenge_ = Challenge();
  return Exchange(kFF + "rcon " + challenge_ + " \"" + password + "\" " + command);
}

std::string HostnameForSplitStatus(TRconProbe& admin, const std::string& password) {
  for (size_t pad = 0; pad < 64; ++pad) {
    const std::string hostname = kHostname + std::string(pad, '.');
    admin.Text(password, "hostname \"" + hostname + "\"");
    const std::vector<std::string> raw = admin.Rcon(password, "status");
    const std::vector<std::string> datagrams = Reassemble(raw);
    if (!raw.empty() && raw[0].rfind("\xFE\xFF\xFF\xFF", 0) == 0 && datagrams.size() == 2 &&
        AnswerText({datagrams[0]}).back() != '\n') {
      return hostname;
    }
  }
  return "";
}

std::string ChatFromConsole(const std::string& console, const std::string& hostname) {
  const std::string head = "<" + hostname + "> ";
  std::string joined;
  size_t start = 0;
  while ((start = console.find(head, start)) != std::string::npos) {
    const size_t end = console.find('\n', start);
    std::string piece = console.substr(start + head.size(), end - start - head.size());
    while (!piece.empty() && piece.back() == ' ') piece.pop_back();
    if (DefaultAdvertText().find(piece) == std::string::npos) joined += (joined.empty() ? "" : " ") + piece;
    start = end;
  }
  return joined;
}

std::vector<std::pair<std::string, int>> StatusPlayers(const std::string& status) {
  std::vector<std::pair<std::string, int>> players;
  static const std::regex line(R"re(^#\s*\d+ +"(.*)" (\d+) )re");
  size_t start = 0;
  while (start < status.size()) {
    size_t end = status.find('\n', start);
    if (end == std::string::npos) end = status.size();
    std::smatch match;
    const std::string text = status.substr(start, end - start);
    if (std::regex_search(text, match, line)) players.emplace_back(match[1], std::stoi(match[2]));
    start = end + 1;
  }
  return players;
}

TAcserver::TAcserver(int rconPort, const std::string& password, int tickMs, const std::string& extraConfig)
    : rconPort_(rconPort), webPort_(testenv::PickRconPort() + 1000), tickMs_(tickMs) {
  std::filesystem::copy_file(ACSERVER_BINARY, dir_.Path() + "acserver");
  std::string error;
  registry_.SetAnswer("ok");
  if (!registry_.Start(0, &error)) throw std::runtime_error(error);
  testenv::WriteFile(dir_.Path() + "zelk_config.txt",
                     "\"rconhost\" \"127.0.0.1\"\n\"rconport\" \"" + std::to_string(rconPort) +
                         "\"\n\"rconpass\" \"" + password + "\"\n\"cl_id\" \"abc\"\n\"registry_host\" \"127.0.0.1:" +
                         std::to_string(registry_.Port()) + "\"\n\"web_listen\" \"127.0.0.1:" +
                         std::to_string(webPort_) + "\"\n" + extraConfig);
  process_.emplace(dir_.Path() + "acserver",
                   std::vector<std::string>{"LC_ALL=C", "ACSERVER_TICK_MS=" + std::to_string(tickMs)}, "/");
}

void TAcserver::Restart() {
  process_->Signal(SIGTERM);
  process_->WaitForExit(15000);
  process_.reset();
  process_.emplace(dir_.Path() + "acserver",
                   std::vector<std::string>{"LC_ALL=C", "ACSERVER_TICK_MS=" + std::to_string(tickMs_)}, "/");
}

std::string TAcserver::Get(const std::string& path) {
  httplib::Client client("127.0.0.1", webPort_);
  auto result = client.Get(path);
  return result && result->status == 200 ? result->body : std::string();
}

TFakePlayerLoop::TFakePlayerLoop(int port, std::string address, std::string name, int maxSeconds) {
  thread_ = std::thread([this, port, address, name, maxSeconds] {
    const auto deadline = Clock::now() + std::chrono::seconds(maxSeconds);
    // Each run plays 4 s: listed from the spawn (~1.2 s) until the engine drops it (~2.3 s later).
    while (!stop_ && Clock::now() < deadline) {
      testenv::TChildProcess player("/usr/bin/python3", {}, "/",
                                    {std::string(ENGINE_TOOLS) + "/fakeplayer.py", std::to_string(port), address,
                                     name, "4", std::to_string(spawnCount_.load())});
      while (!stop_ && player.WaitForExit(200) < 0) {
      }
      std::lock_guard<std::mutex> guard(lock_);
      output_ += player.Output();
    }
  });
}

TFakePlayerLoop::~TFakePlayerLoop() { Stop(); }

void TFakePlayerLoop::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

std::string TFakePlayerLoop::Output() {
  std::lock_guard<std::mutex> guard(lock_);
  return output_;
}

}  // namespace enginetest
