// The local record base: records keep every field, ends never delete, search
// and paging agree with the totals, the import does not double, and a base of
// a newer program is refused.
#include "bans/records/record_base.h"

#include <filesystem>

#include <gtest/gtest.h>

#include <thread>

#include "bans/records/recorded_file_store.h"
#include "support/test_env.h"

namespace {

constexpr int64_t kNow = 1767225600;

TBanRecord Ban(const std::string& identifier, int64_t madeAt, int64_t endsAt = 0) {
  TBanRecord record;
  record.Identifier = identifier;
  record.Name = "player of " + identifier;
  record.Address = "10.0.0.1";
  record.Reason = "aimbot";
  record.MadeAt = madeAt;
  record.EndsAt = endsAt;
  return record;
}

class RecordBaseTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(base_.Open(Path(), &error_)) << error_; }
  std::string Path() const { return dir_.Path() + "acserver.db"; }
  int64_t Add(const TBanRecord& record) {
    const std::optional<int64_t> id = base_.Add(record, &error_);
    EXPECT_TRUE(id) << error_;
    return id.value_or(0);
  }
  std::vector<int64_t> Ids(const TBanQuery& query) {
    const std::optional<TBanPage> page = base_.Search(query, &error_);
    EXPECT_TRUE(page) << error_;
    std::vector<int64_t> ids;
    for (const TBanRecord& record : page ? page->Records : std::vector<TBanRecord>{}) ids.push_back(record.Id);
    return ids;
  }
  testenv::TTempDir dir_;
  records::TRecordBase base_;
  std::string error_;
};

TEST_F(RecordBaseTest, RecordComesBackWholeAndSurvivesReopening) {
  EXPECT_TRUE(base_.Created());
  TBanRecord record = Ban("STEAM_0:1:42", kNow, kNow + 600);
  record.Reason = std::string(63, 'r') + "\xD0\x96 and more";  // cut before the two-byte character
  record.Origin = BanOrigin::Web;
  record.ByName = "admin";
  record.ByIdentifier = "";
  record.ByAddress = "192.168.1.5";
  record.Server = "203.0.113.7:27015";
  record.Evidence = {"10.0.0.1/b.jpg", "10.0.0.1/a.jpg"};
  const int64_t id = Add(record);
  TBanRecord other = Ban("X", kNow);
  other.Evidence = {"10.0.0.1/a.jpg", "10.0.0.2/c.jpg"};
  Add(other);

  records::TRecordBase again;
  ASSERT_TRUE(again.Open(Path(), &error_)) << error_;
  EXPECT_FALSE(again.Created());
  const std::optional<TBanRecord> read = again.Get(id, &error_);
  ASSERT_TRUE(read) << error_;
  record.Id = id;
  record.Reason = std::string(63, 'r');
  EXPECT_EQ(read->Reason, record.Reason);
  EXPECT_EQ(read->Origin, BanOrigin::Web);
  EXPECT_EQ(read->Evidence, record.Evidence) << "in the order given";
  EXPECT_EQ(std::tie(read->Identifier, read->Name, read->Address, read->MadeAt, read->EndsAt, read->ByName,
                     read->ByAddress, read->Server, read->End),
            std::tie(record.Identifier, record.Name, record.Address, record.MadeAt, record.EndsAt, record.ByName,
                     record.ByAddress, record.Server, record.End));
  EXPECT_FALSE(again.Get(id + 100, &error_));
  EXPECT_EQ(error_, "") << "a missing record is no error";
  EXPECT_EQ(again.EvidencePaths(&error_),
            (std::set<std::string>{"10.0.0.1/a.jpg", "10.0.0.1/b.jpg", "10.0.0.2/c.jpg"}));
}

TEST_F(RecordBaseTest, NamesReadBack) {
  for (const BanOrigin origin : {BanOrigin::Report, BanOrigin::Web, BanOrigin::CommandLine, BanOrigin::Imported}) {
    BanOrigin parsed = origin == BanOrigin::Report ? BanOrigin::Web : BanOrigin::Report;
    EXPECT_TRUE(ParseBanOrigin(BanOriginName(origin), &parsed));
    EXPECT_EQ(parsed, origin);
  }
  BanOrigin origin{};
  EXPECT_FALSE(ParseBanOrigin("Web", &origin));
  EXPECT_STREQ(BanEndName(BanEnd::InForce), "in force");
}

TEST_F(RecordBaseTest, LiftAndExpiryEndRecordsAndKeepTheHistory) {
  Add(Ban("X", kNow - 100, kNow + 60));
  Add(Ban("X", kNow - 50));
  const int64_t y = Add(Ban("Y", kNow - 200, kNow - 10));
  EXPECT_EQ(base_.Lift("X", {"admin", "web 10.0.0.5", "appeal"}, kNow, &error_), 2);
  EXPECT_EQ(base_.Lift("X", {"admin", "web", "again"}, kNow + 1, &error_), 0) << "only records in force end";
  EXPECT_EQ(base_.Expire(kNow, &error_), 1);
  EXPECT_EQ(base_.Expire(kNow, &error_), 0);

  const auto history = base_.History("X", &error_);
  ASSERT_TRUE(history) << error_;
  ASSERT_EQ(history->size(), 2u);
  EXPECT_EQ((*history)[0].MadeAt, kNow - 50) << "newest first";
  for (const TBanRecord& record : *history) {
    EXPECT_EQ(std::tie(record.End, record.EndedAt, record.EndedBy, record.EndedFrom, record.EndReason),
              std::make_tuple(BanEnd::Lifted, kNow, std::string("admin"), std::string("web 10.0.0.5"),
                              std::string("appeal")));
  }
  const auto expired = base_.Get(y, &error_);
  ASSERT_TRUE(expired);
  EXPECT_EQ(std::tie(expired->End, expired->EndedAt), std::make_tuple(BanEnd::Expired, kNow - 10));
  EXPECT_EQ(base_.CountByIdentifier({"X", "Y", "Z"}, &error_),
            (std::map<std::string, int64_t>{{"X", 2}, {"Y", 1}, {"Z", 0}}));
}

TEST_F(RecordBaseTest, TheFileDecidesWhatStaysInForce) {
  const int64_t aPast = Add(Ban("A", kNow - 900, kNow - 60));
  const int64_t aForever = Add(Ban("A", kNow - 800));
  const int64_t bPast = Add(Ban("B", kNow - 900, kNow - 60));  // the file still counts it down
  const int64_t cForever = Add(Ban("C", kNow - 900));          // lifted from the file by hand
  const int64_t dPast = Add(Ban("D", kNow - 900, kNow - 60));  // dropped by the file's maintenance
  EXPECT_EQ(base_.ExpireAllBut({"A", "B"}, kNow, &error_), 3) << error_;
  const auto endOf = [&](int64_t id) {
    const auto record = base_.Get(id, &error_);
    return record ? std::make_pair(record->End, record->EndedAt) : std::make_pair(BanEnd::InForce, int64_t{-1});
  };
  EXPECT_EQ(endOf(aPast), std::make_pair(BanEnd::Expired, kNow - 60));
  EXPECT_EQ(endOf(aForever), std::make_pair(BanEnd::InForce, int64_t{0}));
  EXPECT_EQ(endOf(bPast), std::make_pair(BanEnd::InForce, int64_t{0}));
  EXPECT_EQ(endOf(cForever), std::make_pair(BanEnd::Expired, kNow));
  EXPECT_EQ(endOf(dPast), std::make_pair(BanEnd::Expired, kNow - 60));
}

TEST_F(RecordBaseTest, SearchMatchesEachFieldFiltersAndPages) {
  TBanRecord special = Ban("STEAM_0:0:777", kNow);
  special.Name = "Ivan \"the\" 100% \xD0\x92\xD0\xB0\xD1\x81\xD1\x8F";  // "Вася"
  special.Address = "192.0.2.44";
  special.Reason = "Wallhack seen";
  const int64_t first = Add(special);
  std::vector<int64_t> ids{first};
  for (int i = 0; i < 6; ++i) ids.push_back(Add(Ban("P" + std::to_string(i), kNow - 100 * (i % 3))));
  ASSERT_EQ(base_.Lift("P1", {}, kNow, &error_), 1);

  for (const char* text : {"IVAN", "\"the\"", "0%", "0:0:7", "2.44", "wallHACK", "Iv", "\xD0\xB2\xD0\x90\xD0\xA1\xD0\xAF"}) {
    EXPECT_EQ(Ids({text}), std::vector<int64_t>{first}) << text;
  }
  EXPECT_TRUE(Ids({"nobody here"}).empty());
  // Newest first by MadeAt, then by Id: P0, P3 (kNow) after the special one.
  EXPECT_EQ(Ids({"", TBanQuery::Which::All, 1, 3}), (std::vector<int64_t>{ids[4], ids[1], first}));
  EXPECT_EQ(Ids({"", TBanQuery::Which::All, 3, 3}), (std::vector<int64_t>{ids[3]}));
  EXPECT_EQ(Ids({"P", TBanQuery::Which::Ended, 0, 0}), (std::vector<int64_t>{ids[2]})) << "page and size clamped";
  const auto inForce = base_.Search({"", TBanQuery::Which::InForce, 2, 2}, &error_);
  ASSERT_TRUE(inForce);
  EXPECT_EQ(inForce->Total, 6);
  EXPECT_EQ(inForce->Records.size(), 2u);
  const auto past = base_.Search({"", TBanQuery::Which::All, 9, 500}, &error_);
  ASSERT_TRUE(past);
  EXPECT_EQ(past->Total, 7) << "a page past the end still counts";
  EXPECT_TRUE(past->Records.empty());
}

TEST_F(RecordBaseTest, ImportTakesTheFileOnce) {
  const std::vector<std::string> lines{";head", "\"p\" \"A\"", "\"30\" \"B\"", "\"10\" \"B\"", "no quotes", "\"x\" \"C\""};
  std::vector<std::string> bad;
  EXPECT_EQ(base_.Import(lines, kNow, &error_, &bad), 2) << error_;
  EXPECT_EQ(bad, (std::vector<std::string>{"line 5: no quotes", "line 6: \"x\" \"C\""}));
  EXPECT_EQ(base_.Import(lines, kNow + 60, &error_), 0) << "bans already in force are not doubled";
  const auto b = base_.History("B", &error_);
  ASSERT_TRUE(b && b->size() == 1u) << "two lines of one identifier are one ban";
  EXPECT_EQ((*b)[0].Origin, BanOrigin::Imported);
  EXPECT_EQ((*b)[0].MadeAt, 0) << "the file does not say when";
  EXPECT_EQ((*b)[0].EndsAt, kNow + 30 * 60) << "the longer one";
  EXPECT_EQ(base_.History("C", &error_)->size(), 0u) << "a line without a known duration is skipped";
}

TEST_F(RecordBaseTest, TwoConnectionsWriteAtOnceAndSearchesSeeBoth) {
  records::TRecordBase other;
  ASSERT_TRUE(other.Open(Path(), &error_)) << error_;
  EXPECT_EQ(base_.Search({}, &error_)->Total, 0);
  auto write = [](records::TRecordBase& base, const std::string& who) {
    std::string error;
    for (int i = 0; i < 40; ++i) EXPECT_TRUE(base.Add(Ban(who, kNow + i), &error)) << error;
  };
  std::thread one(write, std::ref(base_), "one");
  write(other, "two");
  one.join();
  EXPECT_EQ(base_.Search({}, &error_)->Total, 80);
  EXPECT_EQ(other.Lift("one", {}, kNow, &error_), 40);
  EXPECT_EQ(base_.Search({"", TBanQuery::Which::InForce}, &error_)->Total, 40) << "another connection's lift";
  other.Add(Ban("three", kNow), &error_);
  EXPECT_EQ(base_.Search({"three"}, &error_)->Total, 1) << "another connection's record";
}

TEST(RecordBaseOpen, RefusesANewerSchemaAndAnythingButADatabase) {
  testenv::TTempDir dir;
  std::string error;
  {
    records::TRecordBase base;
    ASSERT_TRUE(base.Open(dir.Path() + "acserver.db", &error)) << error;
  }
  {
    auto db = records::TSqliteDb::Open(dir.Path() + "acserver.db", &error);
    ASSERT_TRUE(db && db->Exec("UPDATE schema_version SET version = version + 1", &error)) << error;
  }
  records::TRecordBase newer;
  EXPECT_FALSE(newer.Open(dir.Path() + "acserver.db", &error));
  EXPECT_NE(error.find("schema version 2 is newer than this program's 1"), std::string::npos) << error;
  EXPECT_FALSE(newer.IsOpen());

  testenv::WriteFile(dir.Path() + "text.db", "\"p\" \"X\"\r\n");
  records::TRecordBase text;
  EXPECT_FALSE(text.Open(dir.Path() + "text.db", &error));
  EXPECT_NE(error.find("cannot open the record base " + dir.Path() + "text.db: "), std::string::npos) << error;
}

// Bans made while acserver.db cannot be opened are enforced from the file and
// recorded once when it opens: never a second time as imported.
TEST(RecordedFileStore, BansMadeWhileTheBaseCannotOpenAreRecordedOnce) {
  testenv::TTempDir dir;
  testenv::ResetProcessFacilities(dir.Path());
  const std::string path = dir.Path() + "acserver.db";
  std::filesystem::create_directory(path);  // no database can be opened there
  records::TRecordedFileStore store(path);
  EXPECT_FALSE(store.RecordsHealth().Up);
  for (const char* identifier : {"A-1", "B-2", "C-3"}) {
    TBanRecord ban = Ban(identifier, kNow, kNow + 3600);
    ban.Origin = BanOrigin::Web;
    EXPECT_TRUE(store.Record(ban));
  }
  std::string left;
  EXPECT_EQ(store.Lookup("B-2", &left), BanLookup::Banned) << "enforced while the records wait";
  EXPECT_EQ(store.Waiting(), 3u);

  std::filesystem::remove(path);
  ASSERT_TRUE(store.WaitWritten(std::chrono::seconds(10)));
  store.Maintain();  // the records follow the file: nothing to import
  ASSERT_TRUE(store.WaitWritten(std::chrono::seconds(10)));
  EXPECT_TRUE(store.RecordsHealth().Up) << store.RecordsHealth().Reason;
  TBanPage page;
  std::string error;
  ASSERT_TRUE(store.Search({}, page, &error)) << error;
  ASSERT_EQ(page.Total, 3) << "one record per ban";
  for (const TBanRecord& record : page.Records) {
    EXPECT_EQ(record.Origin, BanOrigin::Web) << record.Identifier;
    EXPECT_EQ(record.Name, "player of " + record.Identifier);
  }
}

// A page of an identifier's history reads that page only, newest first, with
// the count of all but the record shown.
TEST_F(RecordBaseTest, HistoryPageKeepsToItsPage) {
  std::vector<int64_t> ids;
  for (int i = 0; i < 120; ++i) ids.push_back(Add(Ban("MANY", kNow - 1000 + i)));
  Add(Ban("OTHER", kNow));
  const auto first = base_.HistoryPage("MANY", ids.back(), 1, 50, &error_);
  ASSERT_TRUE(first) << error_;
  EXPECT_EQ(first->Total, 119);
  ASSERT_EQ(first->Records.size(), 50u);
  EXPECT_EQ(first->Records.front().Id, ids[118]) << "newest first, the one shown left out";
  const auto last = base_.HistoryPage("MANY", ids.back(), 3, 50, &error_);
  ASSERT_TRUE(last) << error_;
  ASSERT_EQ(last->Records.size(), 19u);
  EXPECT_EQ(last->Records.back().Id, ids.front());
  EXPECT_TRUE(base_.HistoryPage("MANY", 0, 4, 50, &error_)->Records.empty());
}

}  // namespace
