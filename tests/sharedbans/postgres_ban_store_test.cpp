// The shared ban base against a real PostgreSQL server that the tests start
// themselves: two servers on one base, a database that goes away and comes
// back, the import of a ban file, bans that end by time, and a lift that
// meets the insert of its ban.
#include "sharedbans/postgres_ban_store.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "platform/console.h"
#include "sharedbans/pg_connection.h"
#include "support/pg_cluster.h"
#include "support/test_env.h"

namespace {

class SharedBanBase : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { cluster_ = std::make_unique<testenv::TPgCluster>(); }
  static void TearDownTestSuite() { cluster_.reset(); }
  void SetUp() override {
    if (!cluster_->Unavailable().empty()) GTEST_SKIP() << cluster_->Unavailable();
    testenv::ResetProcessFacilities(dir_.Path());
    ASSERT_TRUE(cluster_->Start());  // running, whatever the last test left
    Sql("DROP TABLE IF EXISTS acserver_bans, acserver_schema");
  }
  std::unique_ptr<TPostgresBanStore> Store(const std::string& name) {
    return std::make_unique<TPostgresBanStore>(cluster_->Uri(), name, dir_.Path() + name + "-journal.txt");
  }
  // Runs a statement on a connection of the test's own; the first column of
  // the first row, or "" (nullopt when it failed).
  static std::optional<std::string> Sql(const std::string& sql) {
    std::string error;
    auto db = TPgConnection::Open(cluster_->Uri(), 3, 5000, &error);
    if (!db) return std::nullopt;
    auto rows = db->Run(sql, {}, &error);
    if (!rows) return std::nullopt;
    return rows->empty() || !(*rows)[0][0] ? std::string() : *(*rows)[0][0];
  }

  static std::unique_ptr<testenv::TPgCluster> cluster_;
  testenv::TTempDir dir_;
};

std::unique_ptr<testenv::TPgCluster> SharedBanBase::cluster_;

TEST_F(SharedBanBase, ABanAtOneServerIsRefusedAtTheOtherAndLiftedAtEither) {
  auto one = Store("one");
  auto two = Store("two");
  ASSERT_TRUE(one->WaitSynced(10000));
  ASSERT_TRUE(two->WaitSynced(10000));
  EXPECT_EQ(Sql("SELECT max(version) FROM acserver_schema"), "1") << "the schema was made, with its version";

  ASSERT_TRUE(one->Record({"CHEATER", "Bob", "10.0.0.5", "aim", 30}));
  std::string left;
  EXPECT_EQ(one->Lookup("CHEATER", &left), BanLookup::Banned) << "at once, before the database has it";
  EXPECT_EQ(left, "30");
  ASSERT_TRUE(one->WaitSynced(10000));
  ASSERT_TRUE(two->WaitSynced(10000));
  EXPECT_EQ(two->Lookup("CHEATER", &left), BanLookup::Banned);
  EXPECT_EQ(two->Lookup("cheater", nullptr), BanLookup::NotBanned) << "identifiers compare exactly";
  EXPECT_EQ(Sql("SELECT player_name || ' ' || player_address || ' ' || reason || ' ' || made_by FROM acserver_bans"),
            "Bob 10.0.0.5 aim one");

  const LiftResult lifted = two->Lift("CHEATER");
  EXPECT_EQ(lifted.Removed, 1);
  EXPECT_TRUE(lifted.Error.empty()) << lifted.Error;
  EXPECT_EQ(two->Lookup("CHEATER", nullptr), BanLookup::NotBanned);
  ASSERT_TRUE(one->WaitSynced(10000));
  EXPECT_EQ(one->Lookup("CHEATER", nullptr), BanLookup::NotBanned) << "gone at the other at its next refresh";
}

TEST_F(SharedBanBase, BansMadeWhileTheDatabaseIsDownReachItOnceAndAreNeverLost) {
  auto store = Store("one");
  ASSERT_TRUE(store->WaitSynced(10000));
  platform::TConsoleCapture console;
  ASSERT_TRUE(cluster_->Stop());
  store->Refresh();
  ASSERT_TRUE(store->Record({"WHILE-DOWN", "Eve", "10.0.0.6", "wall\thack", 0}));
  EXPECT_EQ(store->Lookup("WHILE-DOWN", nullptr), BanLookup::Banned);
  EXPECT_FALSE(store->WaitSynced(3000));
  EXPECT_TRUE(console.ContainsPrefix("Shared ban base lost ("));
  EXPECT_NE(testenv::ReadFile(dir_.Path() + "one-journal.txt").find("WHILE-DOWN"), std::string::npos);

  // A restart of the server meanwhile: the journal brings the ban back.
  store.reset();
  store = Store("one");
  EXPECT_EQ(store->Lookup("WHILE-DOWN", nullptr), BanLookup::Banned) << "enforced from the journal";

  ASSERT_TRUE(cluster_->Start());
  ASSERT_TRUE(store->WaitSynced(15000));
  EXPECT_TRUE(console.Contains("Shared ban base: 1 bans made while it was unreachable are written to it"));
  EXPECT_EQ(Sql("SELECT count(*) FROM acserver_bans"), "1");
  EXPECT_EQ(Sql("SELECT reason FROM acserver_bans WHERE ends_at IS NULL"), "wall\thack");
  EXPECT_EQ(testenv::ReadFile(dir_.Path() + "one-journal.txt"), "");
  store->Refresh();
  ASSERT_TRUE(store->WaitSynced(10000));
  EXPECT_EQ(Sql("SELECT count(*) FROM acserver_bans"), "1") << "written once";
}

TEST_F(SharedBanBase, ImportTurnsMinutesIntoEndTimesAndNeverDoubles) {
  ASSERT_TRUE(Store("one")->WaitSynced(10000));  // makes the schema
  const std::vector<std::string> records = {"\"30\" \"TIMED\"", "\"p\" \"FOREVER\"", "\"x\" \"NOT-A-RECORD\"",
                                            "\"0\" \"RUN-OUT\""};
  int moved = 0;
  int kept = 0;
  std::string error;
  ASSERT_TRUE(ImportBanFile(cluster_->Uri(), "importer", records, &moved, &kept, &error)) << error;
  EXPECT_EQ(moved, 2);
  ASSERT_TRUE(ImportBanFile(cluster_->Uri(), "importer", records, &moved, &kept, &error)) << error;
  EXPECT_EQ(moved, 0);
  EXPECT_EQ(kept, 2);
  EXPECT_EQ(Sql("SELECT count(*) FROM acserver_bans"), "2");
  EXPECT_EQ(Sql("SELECT count(*) FROM acserver_bans WHERE identifier = 'FOREVER' AND ends_at IS NULL"), "1");
  EXPECT_EQ(Sql("SELECT count(*) FROM acserver_bans WHERE identifier = 'TIMED' AND ends_at BETWEEN "
                "now() + interval '29 minutes' AND now() + interval '31 minutes'"),
            "1");
}

TEST_F(SharedBanBase, BansEndByTimeAndShowTheMinutesLeft) {
  auto store = Store("one");
  ASSERT_TRUE(store->WaitSynced(10000));
  ASSERT_TRUE(Sql("INSERT INTO acserver_bans VALUES ('a', 'ENDED', now() - interval '1 second', now(), 'x', '', '', ''),"
                  " ('b', 'SOON', now() + interval '90 seconds', now(), 'x', '', '', ''),"
                  " ('c', 'SOON', now() + interval '30 seconds', now(), 'x', '', '', '')"));
  ASSERT_TRUE(store->WaitSynced(10000));
  EXPECT_EQ(store->Lookup("ENDED", nullptr), BanLookup::NotBanned);
  std::vector<TBanView> bans;
  ASSERT_TRUE(store->List(bans, nullptr));
  ASSERT_EQ(bans.size(), 1u);
  EXPECT_EQ(bans[0].Identifier, "SOON");
  EXPECT_EQ(bans[0].MinutesLeft, 2) << "the later of its two ends, in whole minutes rounded up";
  store->Maintain();
  ASSERT_TRUE(store->WaitSynced(10000));
  EXPECT_EQ(Sql("SELECT count(*) FROM acserver_bans WHERE identifier = 'ENDED'"), "0") << "run-out rows dropped";
}

// The race of a lift with the worker's insert of the same ban, made certain:
// a trigger holds the insert on an advisory lock the test owns, the lift is
// asked while the insert waits, and only then is the insert let go.
TEST_F(SharedBanBase, ALiftThatMeetsTheInsertOfItsBanHolds) {
  auto store = Store("one");
  auto other = Store("two");
  ASSERT_TRUE(store->WaitSynced(10000));  // makes the tables
  ASSERT_TRUE(Sql("CREATE OR REPLACE FUNCTION held_insert() RETURNS trigger LANGUAGE plpgsql AS "
                  "$$ BEGIN PERFORM pg_advisory_xact_lock_shared(4242); RETURN NEW; END $$"));
  ASSERT_TRUE(Sql("CREATE TRIGGER held BEFORE INSERT ON acserver_bans FOR EACH ROW EXECUTE FUNCTION held_insert()"));
  std::string error;
  auto holder = TPgConnection::Open(cluster_->Uri(), 3, 5000, &error);
  ASSERT_TRUE(holder) << error;
  const int kRounds = 100;
  for (int i = 0; i < kRounds; ++i) {
    const std::string id = "QUICK-" + std::to_string(i);
    ASSERT_TRUE(holder->Run("SELECT pg_advisory_lock(4242)", {}, &error)) << error;
    ASSERT_TRUE(store->Record({id, "Bob", "10.0.0.5", "aim", 30}));
    for (int waited = 0;; ++waited) {  // until the worker's insert waits on the lock
      const auto rows = holder->Run("SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND NOT granted", {}, &error);
      ASSERT_TRUE(rows) << error;
      if ((*rows)[0][0] == "1") break;
      ASSERT_LT(waited, 5000) << "the insert never started";
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    auto lift = std::async(std::launch::async, [&] { return store->Lift(id); });
    EXPECT_EQ(lift.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout)
        << "a lift waits for the insert of its identifier";
    ASSERT_TRUE(holder->Run("SELECT pg_advisory_unlock(4242)", {}, &error)) << error;
    const LiftResult lifted = lift.get();
    EXPECT_EQ(lifted.Removed, 1) << id;
    EXPECT_TRUE(lifted.Error.empty()) << lifted.Error;
    EXPECT_EQ(store->Lookup(id, nullptr), BanLookup::NotBanned) << id;
  }
  ASSERT_TRUE(store->WaitSynced(10000));
  ASSERT_TRUE(other->WaitSynced(10000));
  EXPECT_EQ(Sql("SELECT count(*) FROM acserver_bans"), "0") << "no insert landed after its lift";
  std::vector<TBanView> bans;
  ASSERT_TRUE(store->List(bans, nullptr));
  EXPECT_TRUE(bans.empty());
  ASSERT_TRUE(other->List(bans, nullptr));
  EXPECT_TRUE(bans.empty());
}

}  // namespace
