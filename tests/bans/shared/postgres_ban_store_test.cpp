// The shared ban base against a real PostgreSQL server that the tests start
// themselves: two servers on one base, a database that goes away and comes
// back, the import of a ban file, bans that end by time, a lift that meets
// the insert of its ban; and the records of bans: a base of the version before
// them migrated, older servers on it, a record whole, its history, the search;
// and the community: every server's heartbeat, one account for all servers.
#include "bans/shared/postgres_ban_store.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <thread>
#include <tuple>

#include "accounts/password_hash.h"
#include "base/limits.h"
#include "platform/clock_text.h"
#include "platform/console.h"
#include "bans/shared/pg_connection.h"
#include "bans/shared/postgres_accounts.h"
#include "bans/shared/postgres_appeals.h"
#include "supervision/server_beat.h"
#include "support/pg_cluster.h"
#include "support/test_env.h"
#include "web/web_users.h"

namespace {

// A reported ban as the enforcement records it.
TBanRecord Ban(const std::string& identifier, const std::string& name, const std::string& address,
               const std::string& reason, int32_t minutes) {
  TBanRecord ban;
  ban.Identifier = identifier;
  ban.Name = name;
  ban.Address = address;
  ban.Reason = reason;
  ban.MadeAt = platform::UnixSeconds();
  ban.EndsAt = minutes == 0 ? 0 : ban.MadeAt + int64_t{minutes} * 60;
  return ban;
}

class SharedBanBase : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { cluster_ = std::make_unique<testenv::TPgCluster>(); }
  static void TearDownTestSuite() { cluster_.reset(); }
  void SetUp() override {
    if (!cluster_->Unavailable().empty()) GTEST_SKIP() << cluster_->Unavailable();
    testenv::ResetProcessFacilities(dir_.Path());
    ASSERT_TRUE(cluster_->Start());  // running, whatever the last test left
    Sql("DROP TABLE IF EXISTS acserver_bans, acserver_schema, acserver_ban_history, acserver_records_schema, "
        "acserver_servers, acserver_accounts, acserver_audit, acserver_appeals");
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

  ASSERT_TRUE(one->Record(Ban("CHEATER", "Bob", "10.0.0.5", "aim", 30)));
  std::string left;
  EXPECT_EQ(one->Lookup("CHEATER", &left), BanLookup::Banned) << "at once, before the database has it";
  EXPECT_EQ(left, "30");
  ASSERT_TRUE(one->WaitSynced(10000));
  ASSERT_TRUE(two->WaitSynced(10000));
  EXPECT_EQ(two->Lookup("CHEATER", &left), BanLookup::Banned);
  EXPECT_EQ(two->Lookup("cheater", nullptr), BanLookup::NotBanned) << "identifiers compare exactly";
  EXPECT_EQ(Sql("SELECT player_name || ' ' || player_address || ' ' || reason || ' ' || made_by FROM acserver_bans"),
            "Bob 10.0.0.5 aim one");

  // The record made at one is read at the other, through the store interface.
  TBanRecords* other = static_cast<TBanStore&>(*two).Records();
  ASSERT_NE(other, nullptr);
  TBanPage page;
  std::string error;
  ASSERT_TRUE(other->Search({"bob", TBanQuery::Which::InForce, 1, 50}, page, &error)) << error;
  ASSERT_EQ(page.Total, 1);
  EXPECT_EQ(page.Records[0].Server, "one");

  const LiftResult lifted = static_cast<TBanStore&>(*two).Lift("CHEATER", {"admin", "web 10.0.0.1", "appeal"});
  EXPECT_EQ(lifted.Removed, 1);
  EXPECT_TRUE(lifted.Error.empty()) << lifted.Error;
  EXPECT_EQ(two->Lookup("CHEATER", nullptr), BanLookup::NotBanned);
  ASSERT_TRUE(one->WaitSynced(10000));
  EXPECT_EQ(one->Lookup("CHEATER", nullptr), BanLookup::NotBanned) << "gone at the other at its next refresh";
  std::vector<TBanRecord> history;
  ASSERT_TRUE(one->History("CHEATER", history, &error)) << error;
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].End, BanEnd::Lifted);
  EXPECT_EQ(history[0].EndReason, "appeal") << "the lift's reason, made at two, is read at one";
}

TEST_F(SharedBanBase, BansMadeWhileTheDatabaseIsDownReachItOnceAndAreNeverLost) {
  auto store = Store("one");
  ASSERT_TRUE(store->WaitSynced(10000));
  platform::TConsoleCapture console;
  ASSERT_TRUE(cluster_->Stop());
  store->Refresh();
  ASSERT_TRUE(store->Record(Ban("WHILE-DOWN", "Eve", "10.0.0.6", "wall\thack", 0)));
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
    ASSERT_TRUE(store->Record(Ban(id, "Bob", "10.0.0.5", "aim", 30)));
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

// The table as the version before records made it.
const char* const kTableBeforeRecords =
    "CREATE TABLE acserver_bans (ban_id text PRIMARY KEY, identifier text NOT NULL, ends_at timestamptz, "
    "made_at timestamptz NOT NULL, made_by text NOT NULL, player_name text NOT NULL, player_address text NOT NULL, "
    "reason text NOT NULL)";
const char* const kInsertBeforeRecords =
    "INSERT INTO acserver_bans (ban_id, identifier, ends_at, made_at, made_by, player_name, player_address, reason) ";

TEST_F(SharedBanBase, ABaseOfTheVersionBeforeRecordsIsMigratedAndOlderServersKeepWorkingOnIt) {
  ASSERT_TRUE(Sql("CREATE TABLE acserver_schema (version integer NOT NULL)"));
  ASSERT_TRUE(Sql("INSERT INTO acserver_schema VALUES (1)"));
  ASSERT_TRUE(Sql(kTableBeforeRecords));
  ASSERT_TRUE(Sql(std::string(kInsertBeforeRecords) +
                  "VALUES ('one-1-2', 'OLD', NULL, to_timestamp(1000), 'one', 'Bob', '10.0.0.5', 'aim'), "
                  "('import:IMP', 'IMP', now() + interval '1 hour', to_timestamp(2000), 'x', '', '', 'imported')"));
  // A ban the version before records left in its journal.
  testenv::WriteFile(dir_.Path() + "new-journal.txt", "one-5-6\tJOURNAL\t0\t500\tone\tEve\t10.0.0.6\twall\r\n");
  auto store = Store("new");
  ASSERT_TRUE(store->WaitSynced(10000));
  EXPECT_EQ(Sql("SELECT max(version) FROM acserver_schema"), "1") << "older servers still take the base";
  EXPECT_EQ(store->Lookup("OLD", nullptr), BanLookup::Banned);
  TBanPage page;
  std::string error;
  ASSERT_TRUE(store->Search({}, page, &error)) << error;
  ASSERT_EQ(page.Total, 3);
  EXPECT_EQ(page.Records[0].Origin, BanOrigin::Imported) << "newest first";
  const TBanRecord old = page.Records[1];
  EXPECT_EQ(old.Identifier + " " + old.Name + " " + old.Address + " " + old.Reason + " " + old.Server + " " +
                std::to_string(old.MadeAt) + " " + std::to_string(old.EndsAt),
            "OLD Bob 10.0.0.5 aim one 1000 0");
  EXPECT_TRUE(old.Origin == BanOrigin::Report && old.End == BanEnd::InForce);
  EXPECT_EQ(page.Records[2].Name + " " + page.Records[2].Reason, "Eve wall");
  EXPECT_EQ(page.Records[2].Origin, BanOrigin::Report);

  // An older server: its insert, its lift and its expiry, as it words them.
  ASSERT_TRUE(Sql(std::string(kInsertBeforeRecords) +
                  "VALUES ('two-3-4', 'RUN-OUT', to_timestamp(3000), to_timestamp(2500), 'two', '', '', 'wall')"));
  ASSERT_TRUE(Sql("DELETE FROM acserver_bans WHERE identifier = 'OLD'"));
  ASSERT_TRUE(Sql("DELETE FROM acserver_bans WHERE ends_at <= now()"));
  std::vector<TBanRecord> history;
  ASSERT_TRUE(store->History("OLD", history, &error)) << error;
  ASSERT_EQ(history.size(), 1u) << "an older server's lift leaves the record";
  EXPECT_EQ(history[0].Id, old.Id);
  EXPECT_EQ(history[0].End, BanEnd::Lifted);
  ASSERT_TRUE(store->History("RUN-OUT", history, &error)) << error;
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].End, BanEnd::Expired);
  EXPECT_EQ(history[0].EndedAt, 3000) << "expired at its end";
  EXPECT_GT(history[0].Id, old.Id);
}

// The rights the operations guide gives a role that does not own the tables.
TEST_F(SharedBanBase, ARoleThatOnlyUsesTheTablesWorksOnAMigratedBase) {
  ASSERT_TRUE(Store("owner")->WaitSynced(10000));  // makes and migrates the tables
  ASSERT_TRUE(Sql("DO $$ BEGIN CREATE ROLE acserver_server LOGIN; EXCEPTION WHEN duplicate_object THEN NULL; END $$"));
  ASSERT_TRUE(Sql("GRANT SELECT ON acserver_schema, acserver_records_schema, acserver_ban_history TO acserver_server"));
  ASSERT_TRUE(Sql("GRANT SELECT, INSERT, DELETE ON acserver_bans TO acserver_server"));
  ASSERT_TRUE(Sql("GRANT SELECT, INSERT, UPDATE ON acserver_servers, acserver_accounts TO acserver_server"));
  ASSERT_TRUE(Sql("GRANT SELECT, INSERT ON acserver_audit TO acserver_server"));
  ASSERT_TRUE(Sql("GRANT SELECT, INSERT, UPDATE ON acserver_appeals TO acserver_server"));
  std::string uri = cluster_->Uri();
  uri.replace(uri.find("postgres@"), 8, "acserver_server");
  TPostgresBanStore store(uri, "limited", dir_.Path() + "limited-journal.txt");
  ASSERT_TRUE(store.Record(Ban("CHEATER", "Bob", "10.0.0.5", "aim", 30)));
  store.Beat({"limited:27015", kVersionText, "answering", 0, 0, 0, 0});
  ASSERT_TRUE(store.WaitSynced(10000)) << "connects without creating or altering anything";
  std::vector<TServerBeat> servers;
  std::string failed;
  ASSERT_TRUE(store.Servers(servers, &failed)) << failed;
  EXPECT_EQ(servers.size(), 1u) << "its heartbeat is written";
  TPostgresAccounts accounts(uri);
  ASSERT_TRUE(accounts.Add({"alice", AccountRole::Owner, "hash", false, 0, 0}, &failed)) << failed;
  ASSERT_TRUE(accounts.Audit({0, 0, "alice", "command line", "account add", "alice", "owner"}, &failed)) << failed;
  TAppeal appeal;
  appeal.BanId = 1;
  ASSERT_EQ(TPostgresAppeals(uri).File(appeal, {}, &failed), AppealFiling::Filed) << failed;
  EXPECT_EQ(store.Lift("CHEATER", {"admin", "web 10.0.0.1", "checked"}).Removed, 1);
  std::vector<TBanRecord> history;
  std::string error;
  ASSERT_TRUE(store.History("CHEATER", history, &error)) << error;
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].EndedBy + "|" + history[0].EndedFrom + "|" + history[0].EndReason, "admin|web 10.0.0.1|checked");
}

// The record goes through the journal first (made while the base was away),
// so that both carry every field.
TEST_F(SharedBanBase, ARecordReadsBackWholeAndItsLiftsMakeItsHistory) {
  TBanRecord ban;
  ban.Identifier = "CHEATER";
  ban.Name = "Bob \"the\" Builder";
  ban.Address = "10.0.0.5";
  ban.Reason = std::string(64, 'r') + " past 64 bytes";
  ban.MadeAt = 1700000000;
  ban.Origin = BanOrigin::Web;
  ban.ByName = "admin";
  ban.ByIdentifier = "ADMIN-ID";
  ban.ByAddress = "10.0.0.1";
  ban.Evidence = {"10.0.0.5/b\tc.jpg", "10.0.0.5/{\"q\",\\}.jpg"};
  TPostgresBanStore("postgresql://postgres@127.0.0.1:1/acserver", "one", dir_.Path() + "one-journal.txt").Record(ban);
  auto store = Store("one");
  ASSERT_TRUE(store->WaitSynced(10000));
  TBanPage page;
  std::string error;
  ASSERT_TRUE(store->Search({.Text = "bUILDER"}, page, &error)) << error;
  ASSERT_EQ(page.Records.size(), 1u);
  TBanRecord expected = ban;
  expected.Id = page.Records[0].Id;
  expected.Reason = std::string(64, 'r');
  expected.Server = "one";
  const auto same = [](const TBanRecord& a, const TBanRecord& b) {
    return std::tie(a.Id, a.Identifier, a.Name, a.Address, a.Reason, a.MadeAt, a.EndsAt, a.Origin, a.ByName,
                    a.ByIdentifier, a.ByAddress, a.Server, a.Evidence, a.End, a.EndedAt, a.EndedBy, a.EndedFrom,
                    a.EndReason) == std::tie(b.Id, b.Identifier, b.Name, b.Address, b.Reason, b.MadeAt, b.EndsAt,
                                             b.Origin, b.ByName, b.ByIdentifier, b.ByAddress, b.Server, b.Evidence,
                                             b.End, b.EndedAt, b.EndedBy, b.EndedFrom, b.EndReason);
  };
  EXPECT_TRUE(same(page.Records[0], expected));
  const std::optional<TBanRecord> got = store->Get(expected.Id, &error);
  ASSERT_TRUE(got) << error;
  EXPECT_TRUE(same(*got, expected));
  EXPECT_FALSE(store->Get(expected.Id + 1000, &error));
  EXPECT_EQ(error, "") << "no such record is no error";

  const int64_t liftedAt = platform::UnixSeconds();
  EXPECT_EQ(store->Lift("CHEATER", {"admin", "web 10.0.0.1", "false positive"}).Removed, 1);
  EXPECT_EQ(store->Lookup("CHEATER", nullptr), BanLookup::NotBanned);
  ASSERT_TRUE(store->Record(Ban("CHEATER", "Bob", "10.0.0.5", "aim", 0)));  // banned again
  ASSERT_TRUE(store->WaitSynced(10000));
  std::vector<TBanRecord> history;
  ASSERT_TRUE(store->History("CHEATER", history, &error)) << error;
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].End, BanEnd::InForce) << "the current ban first";
  EXPECT_EQ(history[1].End, BanEnd::Lifted);
  EXPECT_EQ(history[1].EndedBy + "|" + history[1].EndedFrom + "|" + history[1].EndReason,
            "admin|web 10.0.0.1|false positive");
  EXPECT_NEAR(history[1].EndedAt, liftedAt, 5);
  EXPECT_EQ(history[1].Evidence, ban.Evidence) << "the record moved whole";
  std::map<std::string, int64_t> counts;
  ASSERT_TRUE(store->CountBans({"CHEATER", "NOBODY"}, counts, &error)) << error;
  EXPECT_EQ(counts, (std::map<std::string, int64_t>{{"CHEATER", 2}, {"NOBODY", 0}}));

  // The admin's tool, straight on the base.
  EXPECT_EQ(LiftSharedBan(cluster_->Uri(), "CHEATER", {"root", "command line", "checked the demo"}).Removed, 1);
  ASSERT_TRUE(SharedBanHistory(cluster_->Uri(), "CHEATER", history, &error)) << error;
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].EndReason, "checked the demo");
}

TEST_F(SharedBanBase, SearchMatchesAnyFieldLiterallyFiltersByEndAndPages) {
  auto store = Store("one");
  ASSERT_TRUE(store->WaitSynced(10000));
  // ID-1 to ID-12, made in that order; every third has run out; ID-7's reason holds % and _.
  ASSERT_TRUE(Sql(std::string(kInsertBeforeRecords) +
                  "SELECT 'b' || i, 'ID-' || i, CASE WHEN i % 3 = 0 THEN now() - interval '1 minute' END, "
                  "to_timestamp(1000 + i), 'x', 'Player' || i, '10.0.0.' || i, "
                  "CASE WHEN i = 7 THEN '100% aim_bot' ELSE 'wallhack' END FROM generate_series(1, 12) i"));
  ASSERT_EQ(store->Lift("ID-1").Removed, 1);
  const auto search = [&](const std::string& text, TBanQuery::Which filter = TBanQuery::Which::All, int pageNo = 1,
                          int perPage = 50) {
    TBanQuery query;
    query.Text = text;
    query.Filter = filter;
    query.Page = pageNo;
    query.PerPage = perPage;
    TBanPage page;
    std::string error;
    EXPECT_TRUE(store->Search(query, page, &error)) << error;
    std::string found = std::to_string(page.Total) + ":";
    for (const TBanRecord& record : page.Records) found += " " + record.Identifier;
    return found;
  };
  EXPECT_EQ(search("0% AIM"), "1: ID-7");
  EXPECT_EQ(search("_"), "1: ID-7") << "% and _ are taken literally";
  EXPECT_EQ(search("player1"), "4: ID-12 ID-11 ID-10 ID-1");
  EXPECT_EQ(search("", TBanQuery::Which::InForce), "7: ID-11 ID-10 ID-8 ID-7 ID-5 ID-4 ID-2");
  EXPECT_EQ(search("", TBanQuery::Which::Ended), "5: ID-12 ID-9 ID-6 ID-3 ID-1");
  EXPECT_EQ(search("", TBanQuery::Which::All, 3, 5), "12: ID-2 ID-1");
  EXPECT_EQ(search("", TBanQuery::Which::All, 4, 5), "12:") << "past the last page, the total still holds";
}

// Each server's heartbeat, written by its worker after a run, lists it at
// every other; one whose last run is over 90 s old is silent. The tables come
// to a base the release before left with its records made.
TEST_F(SharedBanBase, EveryServerOfTheBaseIsListedAndOneThatMissedItsRunsIsSilent) {
  ASSERT_TRUE(Store("older")->WaitSynced(10000));
  ASSERT_TRUE(Sql("DROP TABLE acserver_servers, acserver_accounts, acserver_audit"));
  ASSERT_TRUE(Sql("UPDATE acserver_records_schema SET version = 1"));
  ASSERT_TRUE(Sql(std::string(kInsertBeforeRecords) +
                  "VALUES ('older-1-2', 'KEPT', NULL, now(), 'older', '', '', 'aim')"));

  auto one = Store("one");
  auto two = Store("two");
  TSupervisionReport report;
  report.AtUnixSeconds = platform::UnixSeconds();
  report.Health = RconHealth::Answering;
  report.Players = {{"Alice", "10.0.0.1", 27005, 1, PlayerKind::Player, Protection::Client},
                    {"Bob", "10.0.0.2", 27005, 2, PlayerKind::Player, Protection::None},
                    {"Jo", "", 0, 3, PlayerKind::Bot, Protection::None}};
  one->Beat(BeatOf("host-a:27015", report, report.AtUnixSeconds));
  report.Health = RconHealth::RefusesPassword;
  report.Players.clear();
  two->Beat(BeatOf("host-b:27016", report, report.AtUnixSeconds));
  ASSERT_TRUE(one->WaitSynced(10000));
  ASSERT_TRUE(two->WaitSynced(10000));
  EXPECT_EQ(Sql("SELECT max(version) FROM acserver_records_schema"), "3");
  EXPECT_EQ(one->Lookup("KEPT", nullptr), BanLookup::Banned) << "the bans stay";
  // A server that stopped five minutes ago.
  ASSERT_TRUE(Sql("INSERT INTO acserver_servers VALUES ('host-c:27017', '4.0.2', 'answering', 3, 3, "
                  "now() - interval '5 minutes')"));

  const auto listed = [&] {
    std::vector<TServerBeat> servers;
    std::string error;
    EXPECT_TRUE(two->Servers(servers, &error)) << error;
    std::string text;
    for (const TServerBeat& s : servers) {
      text += s.Name + " " + s.Version + " " + s.Health + " " + std::to_string(s.Protected) + "/" +
              std::to_string(s.Players) + (IsSilent(s) ? " silent" : "") + "; ";
    }
    return text;
  };
  const std::string version = kVersionText;
  EXPECT_EQ(listed(), "host-a:27015 " + version + " answering 1/2; host-b:27016 " + version +
                          " refuses our rcon password 0/0; host-c:27017 4.0.2 answering 3/3 silent; ");

  // A later run replaces the server's row.
  report.Health = RconHealth::Answering;
  one->Beat(BeatOf("host-a:27015", report, report.AtUnixSeconds));
  ASSERT_TRUE(one->WaitSynced(10000));
  EXPECT_EQ(listed(), "host-a:27015 " + version + " answering 0/0; host-b:27016 " + version +
                          " refuses our rcon password 0/0; host-c:27017 4.0.2 answering 3/3 silent; ");
}

// An account added at one server logs in at another, a change made at one
// holds at the other, and both write and read one audit trail.
TEST_F(SharedBanBase, AnAccountAddedAtOneServerLogsInAtAnother) {
  TPostgresAccounts one(cluster_->Uri());
  TPostgresAccounts two(cluster_->Uri());
  const std::optional<std::string> hash = HashPassword("correct horse");
  ASSERT_TRUE(hash);
  TAccount alice{"alice", AccountRole::Owner, *hash, false, 0, 0};
  std::string error;
  ASSERT_TRUE(one.Add(alice, &error)) << error;
  EXPECT_FALSE(two.Add(alice, &error)) << "one name, one account";
  EXPECT_EQ(error, "an account named alice exists already");

  TWebUsers users(&two, "web-password");
  const std::optional<TWebUser> user = users.Login("alice", "correct horse");
  ASSERT_TRUE(user);
  EXPECT_EQ(user->Role, AccountRole::Owner);
  EXPECT_FALSE(users.Login("alice", "wrong horse"));
  EXPECT_FALSE(users.Login("admin", "web-password")) << "web_password stands down once an account exists";

  alice.Role = AccountRole::Viewer;
  ASSERT_TRUE(one.Update(alice, &error)) << error;
  users.Changed();
  const std::optional<TWebUser> demoted = users.Current(*user);
  ASSERT_TRUE(demoted);
  EXPECT_EQ(demoted->Role, AccountRole::Viewer);
  EXPECT_FALSE(one.Update({"nobody", AccountRole::Viewer, *hash, false, 0, 0}, &error));

  ASSERT_TRUE(one.Audit({0, 1000, "alice", "web 10.0.0.1", "ban", "CHEATER", "100% aim"}, &error)) << error;
  ASSERT_TRUE(two.Audit({0, 2000, "bob", "web 10.0.0.2", "lift", "CHEATER", "checked"}, &error)) << error;
  TAuditPage page;
  ASSERT_TRUE(two.SearchAudit("0% A", 1, page, &error)) << error;
  ASSERT_EQ(page.Total, 1);
  EXPECT_EQ(page.Entries[0].At, 1000);
  EXPECT_EQ(page.Entries[0].Account + " " + page.Entries[0].Action + " " + page.Entries[0].Detail, "alice ban 100% aim");
  ASSERT_TRUE(one.SearchAudit("", 1, page, &error)) << error;
  ASSERT_EQ(page.Entries.size(), 2u);
  EXPECT_EQ(page.Entries[0].Account, "bob") << "newest first";
}

}  // namespace
