// The real program while its record base acserver.db is in trouble: a lock
// held by another process, and an immutable -shm file. Cheat reports and bans
// by hand are answered at once and enforced, the fault is said once and shown
// in /api/status and /metrics, and each ban has exactly one record once the
// base works again.
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "clientsim/client_sim.h"
#include "gamesim/game_server_sim.h"
#include "bans/records/sqlite_handle.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int64_t MillisSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

bool RunShell(const std::string& command) {
  return testenv::TChildProcess("/bin/sh", {}, "/", {"-c", command}).WaitForExit(10000) == 0;
}

class RecordFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy_file(ACSERVER_BINARY, dir_.Path() + "acserver");
    game_.SetPassword("secret");
    game_.SetStatusAddon(false);
    std::string error;
    ASSERT_TRUE(testenv::StartOnRconPort(game_, &error)) << error;
    webPort_ = testenv::PickRconPort() + 1000;
    testenv::WriteFile(dir_.Path() + "zelk_config.txt",
                       "\"rconhost\" \"127.0.0.1\"\n\"rconport\" \"" + std::to_string(game_.Port()) +
                           "\"\n\"rconpass\" \"secret\"\n\"cl_id\" \"abc\"\n\"startup_grace\" \"0\"\n"
                           "\"registry_host\" \"127.0.0.1:9\"\n\"web_listen\" \"127.0.0.1:" +
                           std::to_string(webPort_) + "\"\n");
    server_.emplace(dir_.Path() + "acserver", std::vector<std::string>{"ACSERVER_TICK_MS=50"}, "/");
    ASSERT_TRUE(WaitForRuns(1)) << server_->Output();
    const auto page = Browser().Get("/");
    ASSERT_TRUE(page);
    const std::string meta = "name=\"console-token\" content=\"";
    const size_t at = page->body.find(meta);
    ASSERT_NE(at, std::string::npos);
    token_ = page->body.substr(at + meta.size(), 32);
  }
  httplib::Client Browser() const { return httplib::Client("127.0.0.1", webPort_); }
  std::string Db() const { return dir_.Path() + "acserver.db"; }

  // A client registers Eve and her player is listed; then she is reported,
  // and the reply's time is measured.
  void ReportEve(int64_t* millis) {
    std::string error;
    eve_ = clientsim::TClientSim::Open("127.0.0.1", game_.Port() + 1000, &error);
    ASSERT_TRUE(eve_) << error;
    ASSERT_EQ(eve_->Command(clientsim::ConnectLine("Eve", "EVE-7", "abc"), 20000).value_or("").rfind("rpl:accept", 0),
              0u);
    game_.SetPlayers({{"Eve", "127.0.0.1:27007", 9}});
    std::optional<std::string> listed;
    for (int tries = 0; tries < 100 && listed != "rpl:strue"; ++tries) {
      game_.WaitForDatagrams(game_.Datagrams().size() + 1, 250);
      listed = eve_->Command(clientsim::UpdateLine("Eve", "1"), 20000);
    }
    ASSERT_EQ(listed, "rpl:strue");
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(eve_->Command(clientsim::BanLine("Eve", "aimbot"), 20000), "rpl:true");
    *millis = MillisSince(start);
  }
  // A ban by hand from the web console; its answer's time.
  int64_t BanByHand(const std::string& identifier) {
    const Clock::time_point start = Clock::now();
    auto banned = Browser().Post("/api/bans", {{"X-Console-Token", token_}}, "identifier=" + identifier + "&reason=x",
                                 "application/x-www-form-urlencoded");
    const int64_t millis = MillisSince(start);
    EXPECT_TRUE(banned && banned->status == 200) << (banned ? banned->body : "no answer");
    return millis;
  }
  int StatusRuns() const {
    const std::vector<std::string> commands = game_.Commands();
    return static_cast<int>(std::count(commands.begin(), commands.end(), "status"));
  }
  bool WaitForRuns(int runs) const {
    for (int waits = 0; waits < 200 && StatusRuns() < runs; ++waits) {
      game_.WaitForDatagrams(game_.Datagrams().size() + 1, 250);
    }
    return StatusRuns() >= runs;
  }
  // Every record of the base, as the web console lists them, once it works.
  std::string AllRecords() {
    auto all = Browser().Get("/api/bans?filter=all");
    return all && all->status == 200 ? all->body : std::string();
  }
  void ExpectEachBanRecordedOnce(const std::vector<std::string>& identifiers) {
    const std::string records = AllRecords();
    EXPECT_EQ(records.rfind("{\"total\":" + std::to_string(identifiers.size()) + ",", 0), 0u) << records;
    for (const std::string& identifier : identifiers) {
      EXPECT_EQ(testenv::CountOf(records, "\"identifier\":\"" + identifier + "\",\"name\""), 1) << records;
    }
    EXPECT_EQ(records.find("\"kind\":\"imported\""), std::string::npos) << records;
  }

  testenv::TTempDir dir_;
  gamesim::TGameServerSim game_;
  int webPort_ = 0;
  std::optional<testenv::TChildProcess> server_;
  std::optional<clientsim::TClientSim> eve_;
  std::string token_;
};

TEST_F(RecordFaults, ALockHeldByAnotherProcessDelaysNoAnswer) {
  std::string error;
  std::optional<records::TSqliteDb> holder = records::TSqliteDb::Open(Db(), &error);
  ASSERT_TRUE(holder && holder->Exec("BEGIN EXCLUSIVE", &error)) << error;

  int64_t reportMillis = 0;
  ReportEve(&reportMillis);
  const int64_t banMillis = BanByHand("MALLORY-1");
  // 100 ms on an idle machine; the bound leaves room for a loaded one, far
  // below the writer's busy waits that answers once queued behind.
  EXPECT_LT(reportMillis, 1000);
  EXPECT_LT(banMillis, 1000);
  const std::string bans = testenv::ReadFile(dir_.Path() + "zelk_bans.txt");
  EXPECT_NE(bans.find("\"EVE-7\""), std::string::npos) << bans;
  EXPECT_NE(bans.find("\"MALLORY-1\""), std::string::npos) << bans;

  ASSERT_TRUE(server_->WaitForOutput("does not work (", 20000)) << server_->Output();
  auto status = Browser().Get("/api/status");
  ASSERT_TRUE(status);
  EXPECT_NE(status->body.find("\"records\":{\"up\":false,\"reason\":\""), std::string::npos) << status->body;
  auto metrics = Browser().Get("/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_NE(metrics->body.find("\nacserver_records_up 0\n"), std::string::npos);

  ASSERT_TRUE(holder->Exec("ROLLBACK", &error)) << error;
  ASSERT_TRUE(server_->WaitForOutput("works again; the records", 30000)) << server_->Output();
  // Two more minutes' maintenance (with every second run) import nothing more.
  ASSERT_TRUE(WaitForRuns(StatusRuns() + 4));
  ExpectEachBanRecordedOnce({"EVE-7", "MALLORY-1"});
  EXPECT_EQ(testenv::CountOf(server_->Output(), "does not work ("), 1) << "said once";
  status = Browser().Get("/api/status");
  ASSERT_TRUE(status);
  EXPECT_NE(status->body.find("\"records\":{\"up\":true,\"reason\":\"\"}"), std::string::npos) << status->body;
}

TEST_F(RecordFaults, AnImmutableShmFileDoesNotKillTheServer) {
  const std::string shm = Db() + "-shm";
  if (!fs::exists(shm) || !RunShell("chattr +i '" + shm + "' 2>/dev/null")) {
    GTEST_SKIP() << "chattr +i is not permitted here";
  }
  struct TUndo {
    std::string Path;
    ~TUndo() { RunShell("chattr -i '" + Path + "'"); }
  } undo{shm};

  int64_t reportMillis = 0;
  ReportEve(&reportMillis);
  EXPECT_LT(reportMillis, 1000);
  ASSERT_TRUE(server_->WaitForOutput("does not work (", 20000)) << server_->Output();
  EXPECT_NE(server_->Output().find("acserver.db-shm cannot be written"), std::string::npos) << server_->Output();
  auto status = Browser().Get("/api/status");
  ASSERT_TRUE(status) << "the server lives";
  EXPECT_NE(status->body.find("\"records\":{\"up\":false,"), std::string::npos) << status->body;
  EXPECT_EQ(Browser().Get("/api/bans")->status, 503);

  ASSERT_TRUE(RunShell("chattr -i '" + shm + "'"));
  ASSERT_TRUE(server_->WaitForOutput("works again; the records", 30000)) << server_->Output();
  ExpectEachBanRecordedOnce({"EVE-7"});
}

}  // namespace
