// The screenshot exchange on a disk that fills half-way through a write, made
// with a file-size limit (POSIX only).
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include "screens/screen_exchange_fixture.h"

namespace {

using namespace screentest;

TEST_F(ScreenExchange, AFailedWriteLeavesNoFileBehind) {
  // Files of this process may not pass 100 bytes: the write of a 200-byte
  // screenshot fails half-way, as on a full disk.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 100;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  auto* previous = signal(SIGXFSZ, SIG_IGN);
  AddClient("Bob", "id", kBob);
  Run(ScreenCmd, {"Bob", "210"});
  for (int i = 0; i < 7; ++i) Piece(std::string(30, 'x'));
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_TRUE(Saved(Screens()).empty()) << testing::PrintToString(Saved(Screens()));
  EXPECT_EQ(State(1), "pending size=210 held=210 at=210") << "kept for another attempt";
}

}  // namespace
