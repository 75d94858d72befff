// The game server's health for the admins' chat: a change counts once two
// supervision runs in a row saw it.
#include "supervision/health_watch.h"

#include <gtest/gtest.h>

namespace {

TEST(HealthWatch, OneFailedRunSaysNothingAndTheFirstAnsweringIsNoNews) {
  using H = RconHealth;
  THealthWatch watch;
  std::vector<std::string> said;
  for (H health : {H::Answering, H::NotAnswering, H::Answering, H::NotAnswering, H::NotAnswering,
                   H::NotAnswering, H::RefusesPassword, H::Answering, H::Answering}) {
    if (const auto change = watch.Note(health)) said.push_back(HealthName(change->Before) + " -> " + HealthName(change->Now));
  }
  EXPECT_EQ(said, (std::vector<std::string>{"answering -> not answering", "not answering -> answering"}));

  THealthWatch downAtStart;
  EXPECT_FALSE(downAtStart.Note(H::NotAnswering));
  const auto change = downAtStart.Note(H::NotAnswering);
  ASSERT_TRUE(change);
  EXPECT_EQ(change->Before, H::Unknown);
}

}  // namespace
