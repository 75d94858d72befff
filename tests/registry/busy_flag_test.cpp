// BusyFlag: one holder at a time; a waiter sleeps until the release.
#include "registry/tables.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(BusyFlag, OnlyOneHolderAtATime) {
  std::atomic<int> inside{0};
  std::atomic<int> worst{0};
  TTables tables;
  int counter = 0;  // guarded by BusyFlag itself
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        TBusyGuard busy(tables);
        int now = ++inside;
        if (now > worst) worst = now;
        ++counter;
        --inside;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(worst.load(), 1);
  EXPECT_EQ(counter, 8 * 2000);
  EXPECT_FALSE(tables.IsBusy());
}

TEST(BusyFlag, TheEndOfTheGuardsScopeLetsAWaiterIn) {
  TTables tables;
  std::atomic<bool> entered{false};
  std::thread waiter;
  {
    TBusyGuard busy(tables);
    EXPECT_TRUE(tables.IsBusy());
    waiter = std::thread([&] {
      TBusyGuard second(tables);
      entered = true;
    });
  }
  waiter.join();
  EXPECT_TRUE(entered.load());
  EXPECT_FALSE(tables.IsBusy());
}

}  // namespace
