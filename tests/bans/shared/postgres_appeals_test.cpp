// Appeals on the shared ban base, as two servers of one community see them.
#include "bans/shared/postgres_appeals.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <vector>

#include "support/pg_cluster.h"

namespace {

TAppeal AppealOf(int64_t banId, const std::string& address) {
  TAppeal appeal;
  appeal.BanId = banId;
  appeal.Identifier = "ID-" + std::to_string(banId);
  appeal.Name = "Bob";
  appeal.MadeAt = 100000;
  appeal.Text = "not me";
  appeal.Contact = "bob@example.org";
  appeal.Address = address;
  return appeal;
}

// Filed at one server, listed and answered at the other; the bounds count the
// appeals of both, also when filings at several servers race.
TEST(SharedAppeals, BothServersShareTheAppealsAndTheirBounds) {
  testenv::TPgCluster cluster;
  if (!cluster.Unavailable().empty()) GTEST_SKIP() << cluster.Unavailable();
  TPostgresAppeals one(cluster.Uri());
  TPostgresAppeals two(cluster.Uri());
  const TAppealBounds bounds{2, 3};
  std::string error;
  TAppeal first = AppealOf(1, "10.0.0.1");
  ASSERT_EQ(one.File(first, bounds, &error), AppealFiling::Filed) << error;
  TAppeal again = AppealOf(1, "10.0.0.2");
  EXPECT_EQ(two.File(again, bounds, &error), AppealFiling::OpenAlready);
  TAppeal second = AppealOf(2, "10.0.0.1");
  ASSERT_EQ(two.File(second, bounds, &error), AppealFiling::Filed) << error;
  TAppeal third = AppealOf(3, "10.0.0.1");
  EXPECT_EQ(one.File(third, bounds, &error), AppealFiling::Throttled);

  TAppealPage page;
  ASSERT_TRUE(two.List(false, 1, 10, page, &error)) << error;
  ASSERT_EQ(page.Total, 2);
  EXPECT_EQ(page.Appeals[0].Id, second.Id) << "newest first";
  const TAppeal& read = page.Appeals[1];
  EXPECT_EQ(read.Identifier + " " + read.Name + " " + read.Text + " " + read.Contact + " " + read.Address + " " +
                std::to_string(read.MadeAt),
            "ID-1 Bob not me bob@example.org 10.0.0.1 100000");
  ASSERT_TRUE(two.Answer(first.Id, AppealState::Rejected, "alice", "the demo shows it", 100100, &error)) << error;
  EXPECT_FALSE(one.Answer(first.Id, AppealState::Lifted, "carol", "", 100200, &error)) << "answered already";
  EXPECT_EQ(error, "");
  const std::optional<TAppeal> answered = one.Get(first.Id, &error);
  ASSERT_TRUE(answered) << error;
  EXPECT_TRUE(answered->State == AppealState::Rejected && answered->AnsweredAt == 100100);
  EXPECT_EQ(answered->AnsweredBy + ": " + answered->Answer, "alice: the demo shows it");

  // After the rejection the ban may be appealed again, and that appeal is its newest.
  ASSERT_EQ(one.File(again, bounds, &error), AppealFiling::Filed) << error;
  std::map<int64_t, TAppeal> newest;
  ASSERT_TRUE(two.NewestOfBans({1, 2, 9}, newest, &error)) << error;
  ASSERT_EQ(newest.size(), 2u);
  EXPECT_EQ(newest[1].Id, again.Id);

  // Four servers file at once for four bans, one open appeal in all left.
  std::vector<std::unique_ptr<TPostgresAppeals>> servers;
  for (int i = 0; i < 4; ++i) servers.push_back(std::make_unique<TPostgresAppeals>(cluster.Uri()));
  for (auto& server : servers) ASSERT_TRUE(!server->Get(0, &error) && error.empty()) << error;  // connected
  std::vector<std::future<AppealFiling>> filings;
  for (int i = 0; i < 4; ++i) {
    filings.push_back(std::async(std::launch::async, [&, i] {
      TAppeal appeal = AppealOf(10 + i, "10.0.1." + std::to_string(i));
      std::string failed;
      return servers[i]->File(appeal, bounds, &failed);
    }));
  }
  int filed = 0;
  for (auto& filing : filings) filed += filing.get() == AppealFiling::Filed ? 1 : 0;
  EXPECT_EQ(filed, 1);
}

}  // namespace
