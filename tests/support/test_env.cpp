#include "support/test_env.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "log/logs.h"
#include "platform/program_dir.h"
#include "platform/socket.h"
#include "platform/stop_signal.h"

namespace testenv {

TTempDir::TTempDir() {
  char pattern[] = "/tmp/acserver-test-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = std::string(pattern) + "/";
}

TTempDir::~TTempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

int CountOf(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

namespace {

bool TcpAndUdpFree(int port) {
  std::string error;
  auto tcp = platform::TTcpListener::Open(static_cast<uint16_t>(port), 1, &error);
  if (!tcp) return false;
  auto udp = platform::TUdpSocket::Open(&error);
  return udp && udp->Bind(static_cast<uint16_t>(port), &error);
}

std::mt19937& Random() {
  static std::mt19937 rng(static_cast<unsigned>(::getpid()) * 7919u + static_cast<unsigned>(time(nullptr)));
  return rng;
}

}  // namespace

int PickRconPort() {
  std::uniform_int_distribution<int> dist(21000, 59000);
  for (int attempt = 0; attempt < 200; ++attempt) {
    int port = dist(Random());
    if (TcpAndUdpFree(port)) return port - 1000;
  }
  throw std::runtime_error("no free port pair found");
}

int PickUdpPort() {
  std::string error;
  auto udp = platform::TUdpSocket::Open(&error);
  if (!udp || !udp->Bind(0, &error, /*loopbackOnly=*/true)) throw std::runtime_error(error);
  return udp->LocalPort();
}

SettingsRecord TestSettings() {
  SettingsRecord settings;
  settings.RconHost = "127.0.0.1";
  return settings;
}

TimingRecord TestTiming() {
  TimingRecord timing;
  timing.RegistryWaitMs = 300;
  timing.RconWaitMs = 200;
  timing.TerminateWaitMs = 2000;
  timing.TerminateCheckMs = 20;
  timing.ScreenStopCheckMs = 100;
  return timing;
}

void ResetProcessFacilities(const std::string& dataDir) {
  ResetErrorLineLimitForTesting();
  platform::ResetStopForTesting();
  platform::SetDataDirectory(dataDir);
}

long ResidentKb(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

}  // namespace testenv
