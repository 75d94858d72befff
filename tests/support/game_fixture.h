// A server object on loopback pointed at a game-server simulator on RconPort
// and an answering registry simulator; remote-console waits shortened.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/server.h"
#include "base/settings.h"
#include "base/timing.h"
#include "gamesim/game_server_sim.h"
#include "registrysim/registry_sim.h"
#include "support/test_env.h"

class GameFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    testenv::ResetProcessFacilities(dir_.Path());
    timing_.RconWaitMs = 150;
    settings_.RconPass = "secret";
    sim_.SetPassword("secret");
    // These tests run supervision back to back, far faster than its 30 s
    // period: the engine's 180 datagrams a minute would silence the simulator.
    sim_.SetRateLimit(0);
    std::string error;
    // The simulator takes RconPort; the server object takes RconPort + 1000.
    ASSERT_TRUE(testenv::StartOnRconPort(sim_, &error)) << error;
    settings_.RconPort = sim_.Port();
    registry_.SetAnswer("ok");
    ASSERT_TRUE(registry_.Start(0, &error)) << error;
    settings_.RegistryHost = "127.0.0.1";
    settings_.RegistryPort = registry_.Port();
  }
  void TearDown() override {
    server_.reset();
    sim_.Stop();
    registry_.Stop();
  }
  TServer& Server() {
    if (!server_) server_ = std::make_unique<TServer>(settings_, timing_);
    return *server_;
  }
  TTables& Tables() { return Server().State.Tables; }
  const TSupervisionMemory& Memory() { return Server().State.Supervision.Memory(); }
  std::string FullLog() const { return testenv::ReadFile(dir_.Path() + "logs/zelk_logs.txt"); }
  std::string ShortLog() const { return testenv::ReadFile(dir_.Path() + "logs/zelk_light_logs.txt"); }

  SettingsRecord settings_ = testenv::TestSettings();
  TimingRecord timing_ = testenv::TestTiming();
  testenv::TTempDir dir_;
  gamesim::TGameServerSim sim_;
  registrysim::TRegistrySim registry_;
  std::unique_ptr<TServer> server_;
};
