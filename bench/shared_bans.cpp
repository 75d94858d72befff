// The shared ban base against the file base, and many servers against one
// database. Starts a throw-away PostgreSQL cluster of its own (as root, with
// Debian's postgresql installed).
//
// 1. The connect round trip ("<connect>" answered "rpl:accept", then a
//    disconnect) with 1,000 bans in the file base and in the shared base:
//    medians and the ratio.
// 2. A base of 100,000 bans: one refresh of a server's local copy (the query
//    and the copy), and the memory the copy takes.
// 3. 100 servers at once against that base, each refreshing as often as the
//    program does (every 30 s and at every supervision run, so twice a minute
//    at the least), compressed in time: what the database sees per second at
//    the real pace. Lookups at connect never reach the database.
//
//   shared_bans [connects per phase, default 2000]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "base/limits.h"
#include "base/settings.h"
#include "channel/command_server.h"
#include "channel/command_table.h"
#include "clientsim/client_sim.h"
#include "bans/ban_store.h"
#include "platform/program_dir.h"
#include "bans/shared/pg_connection.h"
#include "bans/shared/postgres_ban_store.h"
#include "supervision/server_state.h"
#include "support/pg_cluster.h"
#include "support/test_env.h"

namespace {

using Clock = std::chrono::steady_clock;

long RssKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void Sql(const std::string& uri, const std::string& sql) {
  std::string error;
  auto db = TPgConnection::Open(uri, 3, 600000, &error);
  if (!db || !db->Run(sql, {}, &error)) Die("sql: " + error);
}

// Median connect round trip, in microseconds, against the store in use.
double ConnectRoundTripUs(uint16_t port, int connects) {
  std::string error;
  auto client = clientsim::TClientSim::Open("127.0.0.1", port, &error);
  if (!client) Die(error);
  std::vector<double> samples;
  for (int i = 0; i < connects; ++i) {
    const auto start = Clock::now();
    const auto reply = client->Command(clientsim::ConnectLine("Player", "ID-" + std::to_string(i), "clid"));
    samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    if (!reply || reply->rfind("rpl:accept", 0) != 0) Die("connect refused: " + reply.value_or("(none)"));
    client->Command(clientsim::DisconnectLine("Player"));
  }
  return Median(samples);
}

}  // namespace

int main(int argc, char** argv) {
  const int connects = argc > 1 ? std::max(100, std::atoi(argv[1])) : 2000;
  testenv::TPgCluster cluster;
  if (!cluster.Unavailable().empty()) Die(cluster.Unavailable());
  const std::string uri = cluster.Uri();
  const std::string dir = (std::filesystem::temp_directory_path() / "acserver-bench-bans").string() + "/";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  platform::SetDataDirectory(dir);
  TServerState state{testenv::TestSettings(), testenv::TestTiming()};
  state.Settings.ClientId = "clid";

  TCommandServer server;
  server.Configure(0, kListenQueue, kMaxConnections, 5000);
  RegisterClientCommands(server, CommandContextOf(state));
  std::string error;
  if (!server.Activate(&error)) Die(error);

  // 1. The same 1,000 bans in both bases; none of them is the connecting one.
  std::string file;
  for (int i = 0; i < 1000; ++i) file += "\"p\" \"BANNED-" + std::to_string(i) + "\"\r\n";
  std::ofstream(dir + "zelk_bans.txt", std::ios::binary) << file;
  const double fileUs = ConnectRoundTripUs(server.BoundPort(), connects);
  double sharedUs = 0;
  {
    TPostgresBanStore store(uri, "bench", dir + "journal.txt");
    if (!store.WaitSynced(10000)) Die("no database");
    Sql(uri, "INSERT INTO acserver_bans SELECT 'b' || i, 'BANNED-' || i, NULL, now(), 'bench', '', '', '' "
             "FROM generate_series(0, 999) AS i");
    store.WaitSynced(10000);
    state.Bans.Use(&store);
    sharedUs = ConnectRoundTripUs(server.BoundPort(), connects);
    state.Bans.Use(nullptr);
  }
  std::printf("connect round trip over loopback, median of %d, microseconds\n", connects);
  std::printf("  file base %.1f   shared base %.1f   shared / file %.3f\n\n", fileUs, sharedUs, sharedUs / fileUs);

  // 2. 100,000 bans: one refresh and the copy's memory.
  Sql(uri, "INSERT INTO acserver_bans SELECT 'c' || i, 'CHEATER-' || i, now() + interval '30 days', now(), 'bench', "
           "'Some Player', '10.0.0.1', 'aim' FROM generate_series(1000, 99999) AS i");
  const long before = RssKb();
  double refreshMs = 0;
  {
    TPostgresBanStore store(uri, "bench", dir + "journal.txt");
    const auto start = Clock::now();
    if (!store.WaitSynced(60000)) Die("no refresh");
    refreshMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::vector<TBanView> bans;
    store.List(bans, nullptr);
    std::printf("a base of %zu bans: first refresh of a server's copy %.1f ms, its memory %.1f MB\n", bans.size(),
                refreshMs, (RssKb() - before) / 1024.0);
    std::vector<double> rounds;
    for (int i = 0; i < 10; ++i) {
      const auto again = Clock::now();
      store.WaitSynced(60000);
      rounds.push_back(std::chrono::duration<double, std::milli>(Clock::now() - again).count());
    }
    refreshMs = Median(rounds);
    std::printf("  a refresh (median of 10): %.1f ms\n\n", refreshMs);
  }

  // 3. 100 servers refreshing at once, as fast as the database lets them.
  std::vector<std::unique_ptr<TPostgresBanStore>> servers;
  for (int i = 0; i < 100; ++i) {
    servers.push_back(std::make_unique<TPostgresBanStore>(uri, "server-" + std::to_string(i),
                                                          dir + "journal-" + std::to_string(i) + ".txt"));
  }
  for (auto& store : servers) store->WaitSynced(120000);
  const auto start = Clock::now();
  std::vector<std::thread> refreshers;
  for (auto& store : servers) refreshers.emplace_back([&store] { store->WaitSynced(120000); });
  for (auto& thread : refreshers) thread.join();
  const double allMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  const double perMinute = 2.0 * 100;  // at the least: every 30 s for each of 100 servers
  std::printf("100 servers, 32 players each, one base of 100,000 bans:\n");
  std::printf("  all 100 refresh at once: %.0f ms (%.1f refreshes/s the database can serve)\n", allMs,
              100.0 * 1000.0 / allMs);
  std::printf("  at the real pace the database sees %.2f refreshes/s (%.1f%% of that), 0 lookups/s (connects\n"
              "  are answered from each server's copy), and one insert plus one refresh per ban\n",
              perMinute / 60.0, 100.0 * (perMinute / 60.0) / (100.0 * 1000.0 / allMs));
  servers.clear();
  server.Release();
  return 0;
}
