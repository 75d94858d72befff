#include "support/test_env.h"

#include <chrono>
#include <cstdio>
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

namespace {
std::mt19937& Random();
}  // namespace

// Under the system's temporary directory (/tmp on Linux), with a random name
// that no other test process takes: create_directory fails on one that exists.
TTempDir::TTempDir() {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  std::uniform_int_distribution<unsigned> digits(0, 0xFFFFFF);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "acserver-test-%06x", digits(Random()));
    std::error_code failed;
    if (std::filesystem::create_directory(base / name, failed)) {
      path_ = (base / name).generic_string() + "/";
      return;
    }
  }
  throw std::runtime_error("no temporary directory could be made under " + base.string());
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
  static std::mt19937 rng(std::random_device{}() ^
                          static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
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
