#include "registrysim/registry_sim.h"

#include <chrono>

namespace registrysim {

TRegistrySim::~TRegistrySim() { Stop(); }

bool TRegistrySim::Start(uint16_t port, std::string* error) {
  auto socket = platform::TUdpSocket::Open(error);
  if (!socket || !socket->Bind(port, error, /*loopbackOnly=*/true)) return false;
  socket_ = std::move(*socket);
  port_ = socket_.LocalPort();
  thread_ = std::thread([this] { Run(); });
  return true;
}

void TRegistrySim::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
  }
  socket_.Shutdown();  // wakes the receive at once
  thread_.join();
  socket_.Close();
}

void TRegistrySim::Run() {
  for (;;) {
    std::string data;
    platform::Endpoint from;
    std::string error;
    // The shutdown of Stop wakes this wait; the time-out only bounds it.
    const auto status = socket_.ReceiveFrom(data, from, 500, 8192, &error);
    std::optional<std::string> answer;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (stopping_) return;
      if (status != platform::ReceiveStatus::Datagram) continue;
      datagrams_.push_back(data);
      answer = answer_;
    }
    arrived_.notify_all();
    if (answer) socket_.SendTo(*answer, from, &error);
  }
}

void TRegistrySim::SetAnswer(std::optional<std::string> answer) {
  std::lock_guard<std::mutex> guard(lock_);
  answer_ = std::move(answer);
}

std::vector<std::string> TRegistrySim::Datagrams() const {
  std::lock_guard<std::mutex> guard(lock_);
  return datagrams_;
}

bool TRegistrySim::WaitForDatagrams(size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> guard(lock_);
  return arrived_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return datagrams_.size() >= count; });
}

}  // namespace registrysim
