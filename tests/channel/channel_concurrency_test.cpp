// Fifty connections send hundreds of pipelined commands each while a
// supervision-like thread keeps taking BusyFlag and changing the tables: every
// command gets exactly one reply, in order, and the tables end consistent.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/limits.h"
#include "base/settings.h"
#include "base/timing.h"
#include "channel/command_server.h"
#include "channel/command_table.h"
#include "clientsim/client_sim.h"
#include "registry/tables.h"
#include "supervision/server_state.h"
#include "support/tables_peek.h"
#include "support/test_env.h"

namespace {

constexpr int kRounds = 300;           // two commands each, plus a reconnect now and then
constexpr int kReconnectEvery = 25;

// What a supervision run does to the tables, without the game server: under
// BusyFlag it checks the count, ages every client and rebuilds the player table
// from every other client. Returns a description of a broken invariant, or "".
std::string SupervisionPass(TTables& tables, int pass) {
  TBusyGuard busy(tables);
  int inUse = 0;
  ResetPlayers(busy);
  for (int i = 1; i <= kTableSlots; ++i) {
    ClientSlot& client = busy.Client(i);
    if (!client.InUse) continue;
    ++inUse;
    if (client.MissedUpdates < 200) ++client.MissedUpdates;
    if ((i + pass) % 2 == 0) AddPlayer(busy, client.Name, client.Address, 27005);
  }
  if (inUse != busy.ClientCount()) {
    return "ClientCount " + std::to_string(busy.ClientCount()) + " with " + std::to_string(inUse) + " in use";
  }
  return "";
}

std::string NameOf(int index) {
  return index < kTableSlots ? "c" + std::to_string(index) : "ghost" + std::to_string(index);
}

std::string ConnectLineOf(int index) { return clientsim::ConnectLine(NameOf(index), "id" + std::to_string(index), "clid"); }

// Opens connection `index` and has it served once: the first 33 register.
std::optional<clientsim::TClientSim> OpenServed(uint16_t port, int index) {
  std::string error;
  auto client = clientsim::TClientSim::Open("127.0.0.1", port, &error);
  if (!client) return std::nullopt;
  const std::string first = index < kTableSlots ? ConnectLineOf(index) : clientsim::UpdateLine(NameOf(index), "1");
  const std::string expected = index < kTableSlots ? "rpl:accept" : "rpl:false";
  if (client->Command(first).value_or("").rfind(expected, 0) != 0) return std::nullopt;
  return client;
}

// One connection's conversation after it was served once; the first fault
// found, or "".
std::string Converse(clientsim::TClientSim& client, int index) {
  const bool registered = index < kTableSlots;
  const std::string name = NameOf(index);
  for (int round = 0; round < kRounds; ++round) {
    // Sent together; the replies must come back one each, in this order.
    std::vector<std::pair<std::string, std::string>> batch = {
        {clientsim::UpdateLine(name, "1"), registered ? "rpl:true|rpl:strue" : "rpl:false"},
        {clientsim::UpdateLine("nobody", "1"), "rpl:false"}};
    if (registered && round % kReconnectEvery == kReconnectEvery - 1) {
      batch.push_back({clientsim::DisconnectLine(name), "rpl:ok"});
      batch.push_back({ConnectLineOf(index), "rpl:accept"});
    }
    std::string wire;
    for (const auto& [line, expected] : batch) wire += line + "\n";
    if (!client.SendRaw(wire)) return name + ": send";
    for (const auto& [line, expected] : batch) {
      std::string reply;
      if (client.ReadLine(reply, 20000) != clientsim::ReadStatus::Line) return name + ": no reply to " + line;
      const bool ok = expected == "rpl:accept" ? reply.rfind("rpl:accept", 0) == 0
                                               : ("|" + expected + "|").find("|" + reply + "|") != std::string::npos;
      if (!ok) return name + ": " + line + " answered " + reply;
    }
  }
  return "";
}

TEST(ChannelConcurrency, EveryCommandGetsOneReplyInOrderWhileSupervisionRuns) {
  testenv::TTempDir dir;
  testenv::ResetProcessFacilities(dir.Path());
  TServerState state{testenv::TestSettings(), testenv::TestTiming()};
  state.Settings.ClientId = "clid";
  TTables& tables = state.Tables;
  TCommandServer server;
  server.Configure(0, kListenQueue, kMaxConnections, state.Timing.TerminateWaitMs, state.Timing.TerminateCheckMs);
  RegisterClientCommands(server, CommandContextOf(state));
  std::string error;
  ASSERT_TRUE(server.Activate(&error)) << error;

  // Guards stop; the supervision thread waits on stopChanged between passes.
  std::mutex stopLock;
  std::condition_variable stopChanged;
  bool stop = false;
  std::atomic<int> passes{0};
  std::string supervisionFault;
  std::thread supervision([&] {
    std::unique_lock<std::mutex> lock(stopLock);
    while (!stop) {
      lock.unlock();
      std::string fault = SupervisionPass(tables, passes.fetch_add(1));
      if (!fault.empty() && supervisionFault.empty()) supervisionFault = fault;
      lock.lock();
      stopChanged.wait_for(lock, std::chrono::milliseconds(1), [&] { return stop; });
    }
  });

  // Opened one at a time, each served before the next: a burst of connects
  // beyond the listen queue would stall in SYN retransmissions.
  std::vector<clientsim::TClientSim> connections;
  for (int i = 0; i < kMaxConnections; ++i) {
    auto client = OpenServed(server.BoundPort(), i);
    if (!client) break;
    connections.push_back(std::move(*client));
  }
  EXPECT_EQ(connections.size(), static_cast<size_t>(kMaxConnections));

  std::vector<std::string> faults(connections.size());
  std::vector<std::thread> clients;
  for (size_t i = 0; i < connections.size(); ++i) {
    clients.emplace_back([&, i] { faults[i] = Converse(connections[i], static_cast<int>(i)); });
  }
  for (auto& client : clients) client.join();
  {
    std::lock_guard<std::mutex> guard(stopLock);
    stop = true;
  }
  stopChanged.notify_all();
  supervision.join();

  for (const std::string& fault : faults) EXPECT_EQ(fault, "");
  EXPECT_EQ(supervisionFault, "");
  EXPECT_GT(passes.load(), 0);
  EXPECT_EQ(SupervisionPass(tables, 0), "");
  EXPECT_EQ(testenv::ClientCountOf(tables), kTableSlots);
  for (int i = 0; i < kTableSlots; ++i) {
    int slot = testenv::FindClientIn(tables, "c" + std::to_string(i));
    ASSERT_NE(slot, 0) << i;
    EXPECT_EQ(testenv::ClientOf(tables, slot).Identifier, "id" + std::to_string(i));
  }
  EXPECT_TRUE(server.Release());
}

}  // namespace
