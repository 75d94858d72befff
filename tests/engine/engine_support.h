// What the tests against the real game server share: the engine built by
// setup-engine.sh (ENGINE_DIR), a raw remote-console probe on a chosen loopback
// address, the real acserver beside them, and the engine's non-bot player
// (fakeplayer.py, ENGINE_TOOLS) kept listed by a bounded loop.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "registrysim/registry_sim.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace enginetest {

const std::string kFF = "\xFF\xFF\xFF\xFF";
const std::string kHostname = "My CS Server";  // set by setup-engine.sh's server.cfg

// The engine answers at most 180 connectionless datagrams per source address
// in 60 s and drops the rest of the window silently. acserver sends four per
// supervision run (two commands, each after a challenge), a run every 30
// ticks: about 13 a second on a 10 ms tick, 64 a minute on this one, which
// leaves room under half the limit (90) for the kicks and chat of a ban.
// Supervision then runs every 3.75 s. Each fakeplayer loop sends about 30 a
// minute from its own address.
constexpr int kPacedTickMs = 125;

// The real game server on 127.0.0.1, started from the engine build's run.sh.
// It stops by itself after LIFE seconds even if a test dies.
class TEngine {
 public:
  TEngine(std::string password, int maxPlayers);
  ~TEngine();
  // Starts (again) on the same port and waits until it answers a challenge.
  bool Start(std::string* error);
  // SIGTERM (run.sh's timeout passes it on), then waits for the end.
  void Stop();
  int Port() const { return port_; }
  // Everything the engine printed on its console since the last start.
  std::string Output();
  bool WaitForOutput(const std::string& text, int timeoutMs, int times = 1);

 private:
  std::string password_;
  int maxPlayers_;
  int port_;
  std::optional<testenv::TChildProcess> process_;
};

// Split packets joined back into the datagrams they carry; plain datagrams pass
// through. The sequence numbers are left out (they differ between servers).
std::vector<std::string> Reassemble(const std::vector<std::string>& received);
// The printed text of `l` answers, each datagram's text up to its first NUL.
std::string AnswerText(const std::vector<std::string>& datagrams);

// One remote-console client with its own socket on localAddress.
class TRconProbe {
 public:
  TRconProbe(int port, const std::string& localAddress = "127.0.0.1", uint16_t localPort = 0);
  // Sends payload; every datagram that arrives, the first within firstWaitMs,
  // each further one within a short quiet time.
  std::vector<std::string> Exchange(const std::string& payload, int firstWaitMs = 1500);
  std::string Challenge();  // asks for it; "?" when none came
  // One rcon command with the password (quoted); asks for the challenge first when none is known.
  std::vector<std::string> Rcon(const std::string& password, const std::string& command);
  // The command's answer text (split packets joined).
  std::string Text(const std::string& password, const std::string& command) {
    return AnswerText(Reassemble(Rcon(password, command)));
  }
  void ForgetChallenge() { challenge_.clear(); }

 private:
  platform::TUdpSocket socket_;
  platform::Endpoint server_;
  std::string challenge_;
};

// Where the engine cuts status depends on every byte before the cut (the
// version line differs between builds): lengthens the hostname until status
// comes as a split-packet datagram and a second one that starts inside a line.
// The hostname that did it, "" when none did.
std::string HostnameForSplitStatus(TRconProbe& admin, const std::string& password);

// The chat lines the engine printed on its console (`<hostname> text`), each
// piece trimmed and joined by one blank; the pieces of the advertisement
// (every 501 ticks) left out.
std::string ChatFromConsole(const std::string& console, const std::string& hostname = kHostname);

// The players of the engine's status text: (name, userid) in list order.
std::vector<std::pair<std::string, int>> StatusPlayers(const std::string& status);

// The real acserver in a temporary directory beside the engine, with a registry
// simulator that answers at once and the web console on a free loopback port.
class TAcserver {
 public:
  TAcserver(int rconPort, const std::string& password, int tickMs, const std::string& extraConfig = "");
  testenv::TChildProcess& Process() { return *process_; }
  // SIGTERM, the end awaited, then the same program started again in the
  // same directory (its files kept); Process() is then the new one.
  void Restart();
  int CommandPort() const { return rconPort_ + 1000; }
  // A page of the web console ("" when it did not answer).
  std::string Get(const std::string& path);

 private:
  testenv::TTempDir dir_;
  registrysim::TRegistrySim registry_;
  int rconPort_;
  int webPort_;
  int tickMs_;
  std::optional<testenv::TChildProcess> process_;
};

// fakeplayer.py run again and again from one loopback address until stopped
// (or for at most maxSeconds), so that the engine keeps listing the player.
// The name is passed as it is, bytes and blanks included.
class TFakePlayerLoop {
 public:
  TFakePlayerLoop(int port, std::string address, std::string name, int maxSeconds = 90);
  ~TFakePlayerLoop();
  void Stop();
  std::string Output();
  // The engine's spawn count the next runs answer with: 1 on the first map,
  // one more after each map change.
  void SetSpawnCount(int count) { spawnCount_ = count; }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<int> spawnCount_{1};
  std::mutex lock_;
  std::string output_;
  std::thread thread_;
};

}  // namespace enginetest
