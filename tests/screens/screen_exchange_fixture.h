// The fixture of the screenshot exchange's tests: a server state with its
// tables, the handlers run as if sent from a peer, and what a transfer left
// on disk.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/settings.h"
#include "channel/client_commands.h"
#include "channel/screen_commands.h"
#include "platform/clock_text.h"
#include "registry/busy_flag.h"
#include "registry/tables.h"
#include "screens/screen_receiver.h"
#include "supervision/server_state.h"
#include "support/tables_peek.h"
#include "support/test_env.h"

namespace screentest {

namespace fs = std::filesystem;

inline const std::string kBob = "127.0.0.1";

class ScreenExchange : public ::testing::Test {
 protected:
  void SetUp() override {
    testenv::ResetProcessFacilities(dir_.Path());
    savedShape_ = platform::CurrentShape();
  }
  void TearDown() override {
    platform::SetShapeForTesting(savedShape_);
  }

  // Runs a handler on the parameters, as sent from peer; the call afterwards.
  CommandCall Run(void (*handler)(const TCommandContext&, CommandCall&), std::vector<std::string> arguments,
                  const std::string& peer = kBob) {
    CommandCall call;
    call.Arguments = std::move(arguments);
    call.PeerAddress = peer;
    handler(CommandContextOf(state_), call);
    EXPECT_FALSE(tables_.IsBusy()) << "BusyFlag is released on every path";
    return call;
  }
  std::string Piece(const std::string& bytes, const std::string& from = kBob) {
    return HandleScreenDatagram(tables_, settings_, bytes, from);
  }
  // The slot's transfer state as one line, read under its Guard.
  std::string State(int slot) {
    TClientSlotLock lock(tables_, slot);
    return StateOf(lock.Slot());
  }
  static std::string StateOf(const ClientSlot& client) REQUIRES(client.Guard) {
    return std::string(client.ScreenPending ? "pending" : "idle") + " size=" + std::to_string(client.ScreenSize) +
           " held=" + std::to_string(client.ScreenData.Bytes().size()) +
           " at=" + std::to_string(client.ScreenData.Position);
  }
  // The entries of a directory, by name.
  std::vector<std::string> Saved(const std::string& dir) const {
    std::vector<std::string> names;
    if (fs::exists(dir)) {
      for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    }
    return names;
  }
  std::string Screens() const { return dir_.Path() + "zelk_screens/" + kBob + "/"; }
  std::string OnlyFile(const std::string& dir) const {
    auto names = Saved(dir);
    return names.size() == 1 ? testenv::ReadFile(dir + names[0]) : std::to_string(names.size()) + " files";
  }
  std::string FullLog() const { return testenv::ReadFile(dir_.Path() + "logs/zelk_logs.txt"); }

  int AddClient(const std::string& name, const std::string& identifier, const std::string& address) {
    return testenv::AddClientTo(tables_, name, identifier, address);
  }

  testenv::TTempDir dir_;
  platform::TimeShape savedShape_;
  TServerState state_{testenv::TestSettings(), testenv::TestTiming()};
  SettingsRecord& settings_ = state_.Settings;
  TTables& tables_ = state_.Tables;
};

}  // namespace screentest
