// The appeals in acserver.db: the bounds that the public form cannot pass
// (one open appeal per ban, the throttle per address, the cap on open
// appeals), an answer given once, and the newest appeal of each ban.
#include "bans/records/appeal_base.h"

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace {

TAppeal AppealOf(int64_t banId, const std::string& address, int64_t madeAt) {
  TAppeal appeal;
  appeal.BanId = banId;
  appeal.Identifier = "ID-" + std::to_string(banId);
  appeal.MadeAt = madeAt;
  appeal.Text = "not me";
  appeal.Address = address;
  return appeal;
}

TEST(AppealBase, BoundsHoldAndAnAnswerIsGivenOnce) {
  testenv::TTempDir dir;
  records::TSqliteAppeals store(dir.Path() + "acserver.db");
  const TAppealBounds bounds{2, 3};
  std::string error;
  const auto file = [&](int64_t ban, const std::string& address, int64_t at) {
    TAppeal appeal = AppealOf(ban, address, at);
    const AppealFiling filed = store.File(appeal, bounds, &error);
    EXPECT_NE(filed, AppealFiling::Failed) << error;
    return filed == AppealFiling::Filed ? appeal.Id : -static_cast<int64_t>(filed);
  };
  const int64_t first = file(1, "10.0.0.1", 1000);
  ASSERT_GT(first, 0);
  EXPECT_EQ(file(1, "10.0.0.2", 1001), -static_cast<int64_t>(AppealFiling::OpenAlready));
  EXPECT_GT(file(2, "10.0.0.1", 1002), 0);
  EXPECT_EQ(file(3, "10.0.0.1", 1003), -static_cast<int64_t>(AppealFiling::Throttled));
  EXPECT_GT(file(3, "10.0.0.1", 1000 + 3601), 0) << "an hour after the first";
  EXPECT_EQ(file(4, "10.0.0.9", 5000), -static_cast<int64_t>(AppealFiling::TooMany)) << "three are open";

  EXPECT_TRUE(store.Answer(first, AppealState::Rejected, "ann", "seen on the demo", 6000, &error)) << error;
  EXPECT_FALSE(store.Answer(first, AppealState::Lifted, "bob", "", 6001, &error));
  EXPECT_EQ(error, "") << "answered already is no failure of the store";
  const int64_t again = file(1, "10.0.0.3", 6003);
  EXPECT_GT(again, 0) << "the ban's appeal is answered: it may be appealed again, and there is room";

  std::map<int64_t, TAppeal> newest;
  ASSERT_TRUE(store.NewestOfBans({1, 2, 7}, newest, &error)) << error;
  ASSERT_EQ(newest.size(), 2u);
  EXPECT_EQ(newest[1].Id, again);
  EXPECT_EQ(newest[1].State, AppealState::Open);
  const std::optional<TAppeal> answered = store.Get(first, &error);
  ASSERT_TRUE(answered) << error;
  EXPECT_EQ(answered->State, AppealState::Rejected);
  EXPECT_EQ(answered->AnsweredBy, "ann");
  EXPECT_EQ(answered->Answer, "seen on the demo");
  TAppealPage page;
  ASSERT_TRUE(store.List(true, 1, 50, page, &error)) << error;
  EXPECT_EQ(page.Total, 1);
  ASSERT_TRUE(store.List(false, 1, 2, page, &error)) << error;
  EXPECT_EQ(page.Total, 3);
  ASSERT_EQ(page.Appeals.size(), 2u);
  EXPECT_EQ(page.Appeals[0].Id, again) << "newest first";
}

}  // namespace
