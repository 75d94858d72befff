// What the tests share: a temporary data directory, free ports, the settings
// and timing a test starts from, and clean process-wide facilities (stop
// flag, error-line limit, data directory) for each test. The state itself
// (tables, settings, ...) each test builds for itself.
#pragma once

#include <cstdint>
#include <string>

#include "base/settings.h"
#include "base/timing.h"

namespace testenv {

// A fresh directory under /tmp, removed with everything in it at the end.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  // Ends in "/".
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Writes text to a file (creating or truncating it).
void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);
// How often part occurs in text, overlaps included.
int CountOf(const std::string& text, const std::string& part);

// A port P such that P + 1000 is free on loopback for both TCP and UDP right now,
// to use as RconPort in tests that build a TServer.
int PickRconPort();
// Starts a simulator (of the game server) on such a port P, so that the
// program beside it can take P + 1000; false after 20 tries, the last
// reason in error.
template <typename Simulator>
bool StartOnRconPort(Simulator& simulator, std::string* error) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (simulator.Start(static_cast<uint16_t>(PickRconPort()), error)) return true;
  }
  return false;
}
// The resident memory of a process in KiB (VmRSS); -1 when it cannot be read.
long ResidentKb(int pid);
// A free UDP port on loopback right now.
int PickUdpPort();

// Default settings with the game server on loopback.
SettingsRecord TestSettings();
// The system's timing with short waits.
TimingRecord TestTiming();
// No stop request, no error lines counted, and the data directory pointed at
// dir. Call at the start of each test that touches them.
void ResetProcessFacilities(const std::string& dataDir);

}  // namespace testenv
