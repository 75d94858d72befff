// What the suites against the real game server share beyond engine_support.h:
// one engine per gtest suite, and a live anti-cheat client of acserver.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "clientsim/client_sim.h"
#include "engine/engine_support.h"

namespace enginetest {

const std::string kPassword = "secret";
constexpr int kWaitMs = 20000;

// One engine for the tests of a suite.
template <int MaxPlayers>
class TEngineSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    engine_ = std::make_unique<TEngine>(kPassword, MaxPlayers);
    if (!engine_->Start(&error_)) engine_.reset();
  }
  static void TearDownTestSuite() { engine_.reset(); }
  void SetUp() override { ASSERT_TRUE(engine_) << error_; }
  static TEngine& Engine() { return *engine_; }

  static std::unique_ptr<TEngine> engine_;
  static std::string error_;
};
template <int MaxPlayers>
std::unique_ptr<TEngine> TEngineSuite<MaxPlayers>::engine_;
template <int MaxPlayers>
std::string TEngineSuite<MaxPlayers>::error_;

// A client of acserver from a loopback address that announces its player's
// name as the player's game sends it and keeps the registration alive with
// an update every half second. It connects as soon as acserver listens
// (within kWaitMs), so it can follow a restart.
class TLiveClient {
 public:
  TLiveClient(int port, const std::string& from, const std::string& name, const std::string& identifier = "")
      : name_(name) {
    std::string error;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (!(client_ = clientsim::TClientSim::Open("127.0.0.1", port, &error, from)) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!client_) throw std::runtime_error(error);
    const std::string id = identifier.empty() ? "ID-" + name : identifier;
    Accepted = client_->Command(clientsim::ConnectLine(name, id, "abc"), kWaitMs).value_or("");
  }
  // Keeps the client alive until done() holds or timeoutMs passed; each
  // update carries screenState ("0" stops screenshots, "1" lets them run).
  bool KeepAliveUntil(const std::function<bool()>& done, int timeoutMs, const std::string& screenState = "0") {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      Update(screenState);
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    return true;
  }
  // One update; the reply ("" when none came).
  std::string Update(const std::string& screenState) {
    LastReply = client_->Command(clientsim::UpdateLine(name_, screenState), kWaitMs).value_or("");
    return LastReply;
  }
  clientsim::TClientSim& Client() { return *client_; }
  std::string Accepted;
  std::string LastReply;

 private:
  std::string name_;
  std::optional<clientsim::TClientSim> client_;
};

}  // namespace enginetest
