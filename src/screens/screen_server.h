// The screen receiver: a UDP socket on all local IPv4 addresses, and one
// listener thread that hands the datagrams one after another to the receiver
// (screen_receiver.h), reply included.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "base/settings.h"
#include "base/timing.h"
#include "platform/socket.h"
#include "registry/tables.h"

class TScreenServer {
 public:
  // The screenshots go to the clients of tables, into the settings' directory;
  // all three must outlive the server.
  TScreenServer(TTables& tables, const SettingsRecord& settings, const TimingRecord& timing)
      : tables_(tables), settings_(settings), timing_(timing) {}
  ~TScreenServer();
  TScreenServer(const TScreenServer&) = delete;
  TScreenServer& operator=(const TScreenServer&) = delete;

  // Binds the port and starts the listener. False with the reason when the port
  // cannot be bound. Main thread only.
  bool Activate(int port, std::string* error);
  // Stops the listener (it looks for the stop at least once a second) and
  // closes the socket. Idempotent. Main thread only.
  void Release();
  uint16_t BoundPort() const;

 private:
  void Listen();

  TTables& tables_;
  const SettingsRecord& settings_;
  const TimingRecord& timing_;
  platform::TUdpSocket socket_;
  std::thread listener_;
  // Set by the release, read by the listener between datagrams; atomic, so
  // it needs no lock.
  std::atomic<bool> stopping_{false};
};
