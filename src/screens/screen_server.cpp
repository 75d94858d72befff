// The screen receiver's socket and listener thread. The listener reads one
// datagram at a time, hands it to HandleScreenDatagram and sends the reply
// before it reads the next one, so the pieces of a transfer are handled in
// arrival order and a client never has two pieces in flight.
#include "screens/screen_server.h"

#include <algorithm>
#include <chrono>

#include "base/limits.h"
#include "screens/screen_receiver.h"

TScreenServer::~TScreenServer() { Release(); }

bool TScreenServer::Activate(int port, std::string* error) {
  if (listener_.joinable()) return true;
  auto socket = platform::TUdpSocket::Open(error);
  if (!socket) return false;
  if (port < 0 || port > 65535) {
    if (error) *error = "bind 0.0.0.0:" + std::to_string(port) + ": port out of range";
    return false;
  }
  if (!socket->Bind(static_cast<uint16_t>(port), error)) return false;
  socket_ = std::move(*socket);
  stopping_ = false;
  listener_ = std::thread([this] { Listen(); });
  return true;
}

void TScreenServer::Release() {
  if (!listener_.joinable()) return;
  stopping_ = true;
  // Wakes the listener at once; without it the stop is still seen within one
  // wait slice.
  socket_.Shutdown();
  listener_.join();
  socket_.Close();
}

uint16_t TScreenServer::BoundPort() const { return socket_.Valid() ? socket_.LocalPort() : 0; }

void TScreenServer::Listen() {
  // Each wait is bounded so that a stop is noticed within a second even when
  // the shutdown could not wake the wait.
  const int sliceMs = std::clamp(timing_.ScreenStopCheckMs, 1, 1000);
  std::string datagram;
  platform::Endpoint from;
  std::string error;
  while (!stopping_) {
    const platform::ReceiveStatus status = socket_.ReceiveFrom(datagram, from, sliceMs, kMaxDatagramBytes, &error);
    // A shut-down socket reads as an empty datagram: look at the flag first.
    if (stopping_) break;
    switch (status) {
      case platform::ReceiveStatus::Timeout:
      case platform::ReceiveStatus::TooLong:  // over 8192 bytes: dropped, no reply
        continue;
      case platform::ReceiveStatus::Error:
        // A receive error belongs to no datagram; wait one slice so that a
        // lasting fault does not spin.
        std::this_thread::sleep_for(std::chrono::milliseconds(sliceMs));
        continue;
      case platform::ReceiveStatus::Datagram:
        break;
    }
    const std::string reply = HandleScreenDatagram(tables_, settings_, datagram, platform::DottedAddress(from.Address));
    // A reply that cannot be sent ends only this datagram's handling.
    socket_.SendTo(reply, from, &error);
  }
}
