// The central registry on a loopback UDP port: records every datagram and
// answers each one with a chosen text, or stays silent. Thread safe.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace registrysim {

class TRegistrySim {
 public:
  TRegistrySim() = default;
  ~TRegistrySim();
  TRegistrySim(const TRegistrySim&) = delete;
  TRegistrySim& operator=(const TRegistrySim&) = delete;

  // Binds 127.0.0.1:port (0 lets the system pick) and starts listening.
  bool Start(uint16_t port, std::string* error);
  // Stops and joins the thread. Idempotent.
  void Stop();
  uint16_t Port() const { return port_; }

  // The answer to every datagram; nullopt keeps the registry silent (the default).
  void SetAnswer(std::optional<std::string> answer);
  std::vector<std::string> Datagrams() const;
  // Waits until at least count datagrams arrived, or timeoutMs passed.
  bool WaitForDatagrams(size_t count, int timeoutMs) const;

 private:
  void Run();

  platform::TUdpSocket socket_;
  uint16_t port_ = 0;
  std::thread thread_;

  // Guards everything below.
  mutable std::mutex lock_;
  mutable std::condition_variable arrived_;
  bool stopping_ = false;
  std::optional<std::string> answer_;
  std::vector<std::string> datagrams_;
};

}  // namespace registrysim
