// The client and player tables: first-fit slots, cut texts, exact lookups.
#include "registry/tables.h"

#include <gtest/gtest.h>

#include "support/tables_peek.h"
#include "support/test_env.h"

namespace {

// Whether the client name has its player at this address.
bool HasPlayer(const TBusyGuard& busy, const std::string& name, const std::string& address) REQUIRES(busy.Flag()) {
  const int slot = FindPlayerOfClient(busy, name, address);
  return slot != 0 && busy.Player(slot).Address == address;
}

// Each test takes the flag of its own tables and holds it throughout.
class Tables : public ::testing::Test {
 protected:
  TTables tables_;
};

TEST_F(Tables, FreedSlotIsReusedFirstAndAFullTableChangesNothing) {
  TBusyGuard busy(tables_);
  for (int i = 1; i <= kTableSlots; ++i) ASSERT_EQ(AddClient(busy, "p" + std::to_string(i), "id", "10.0.0.1"), i);
  EXPECT_EQ(AddClient(busy, "extra", "id", "10.0.0.1"), 0);
  EXPECT_EQ(busy.ClientCount(), kTableSlots);
  RemoveClient(busy, 2);
  EXPECT_EQ(busy.ClientCount(), kTableSlots - 1);
  EXPECT_FALSE(IsClientOnline(busy, "p2"));
  EXPECT_EQ(AddClient(busy, "new", "id", "10.0.0.1"), 2);
}

// The lookups by name go through keys that the table operations keep: a
// freed or reset slot must not be found, a reused one only by its new name,
// and a closed transfer must leave the count of open ones.
TEST_F(Tables, LookupsAndTheTransferCountFollowEveryChange) {
  TBusyGuard busy(tables_);
  const int a = AddClient(busy, "a", "1", "10.0.0.5");
  AddClient(busy, "a", "2", "10.0.0.6");
  EXPECT_EQ(FindClientByName(busy, "a"), a);
  testenv::StartTransfer(tables_, a);
  EXPECT_EQ(tables_.OpenTransfers(), 1);
  RemoveClient(busy, a);
  EXPECT_EQ(tables_.OpenTransfers(), 0);
  EXPECT_EQ(FindClientByName(busy, "a"), a + 1);
  EXPECT_EQ(AddClient(busy, "b", "3", "10.0.0.5"), a);
  EXPECT_EQ(FindClientByName(busy, "b"), a);
  EXPECT_TRUE(HasClient(busy, "a", "10.0.0.6"));

  AddPlayer(busy, "p", "10.0.0.5", 27005);
  EXPECT_TRUE(HasPlayer(busy, "p", "10.0.0.5"));
  ResetPlayers(busy);
  EXPECT_FALSE(IsPlayerPresent(busy, "p"));
  EXPECT_EQ(AddPlayer(busy, "q", "10.0.0.5", 27005), 1);
  EXPECT_EQ(FindPlayerOfClient(busy, "q", ""), 1);
  EXPECT_FALSE(HasPlayer(busy, "p", "10.0.0.5"));
}

TEST_F(Tables, TextsAreCutToTheirCapacityAndComparedExactly) {
  TBusyGuard busy(tables_);
  const std::string longName(40, 'n');
  int slot = AddClient(busy, longName, std::string(70, 'i'), "10.0.0.1");
  EXPECT_EQ(busy.Client(slot).Name, std::string(32, 'n'));
  EXPECT_EQ(busy.Client(slot).Identifier, std::string(64, 'i'));
  EXPECT_EQ(FindClientByName(busy, longName), 0);
  EXPECT_FALSE(IsClientOnline(busy, longName));
  EXPECT_EQ(FindClientByName(busy, std::string(32, 'n')), slot);

  AddClient(busy, "Bob", "1", "10.0.0.2");
  EXPECT_FALSE(IsClientOnline(busy, "bob"));
  EXPECT_TRUE(HasClient(busy, "Bob", "10.0.0.2"));
  EXPECT_FALSE(HasClient(busy, "Bob", "10.0.0.3"));
  EXPECT_FALSE(IsClientOnline(busy, ""));
  EXPECT_FALSE(HasClient(busy, "", ""));
}

TEST_F(Tables, ScreenSenderNeedsPendingAndTakesTheLowerSlot) {
  TBusyGuard busy(tables_);
  AddClient(busy, "a", "1", "10.0.0.5");
  int b = AddClient(busy, "b", "2", "10.0.0.5");
  int c = AddClient(busy, "c", "3", "10.0.0.5");
  EXPECT_EQ(FindScreenSender(tables_, "10.0.0.5"), 0);
  testenv::StartTransfer(tables_, c);
  testenv::StartTransfer(tables_, b);
  EXPECT_EQ(FindScreenSender(tables_, "10.0.0.5"), b);
  EXPECT_TRUE(IsScreenPendingFrom(tables_, "10.0.0.5"));
  EXPECT_FALSE(IsScreenPendingFrom(tables_, "10.0.0.6"));
}

TEST_F(Tables, ResetFreesEverySlotAndKeepsTheBuffers) {
  TBusyGuard busy(tables_);
  int slot = AddClient(busy, "a", "1", "10.0.0.5");
  testenv::StartTransfer(tables_, slot, 100, std::string(100, 'x'));
  const ScreenBuffer* buffer = &busy.Client(slot).ScreenData;
  ResetClients(busy);
  EXPECT_EQ(busy.ClientCount(), 0);
  EXPECT_EQ(FindClientByName(busy, "a"), 0);
  {
    TMutexLock guard(busy.Client(1).Guard);
    EXPECT_EQ(&busy.Client(1).ScreenData, buffer);
    EXPECT_TRUE(busy.Client(1).ScreenData.Bytes().empty());
    EXPECT_EQ(busy.Client(1).ScreenSize, 0);
    EXPECT_FALSE(busy.Client(1).ScreenPending);
  }
  EXPECT_EQ(tables_.OpenTransfers(), 0);
  EXPECT_EQ(AddClient(busy, "b", "2", "10.0.0.6"), 1);
}

TEST_F(Tables, ScreenBufferWritesAtItsPosition) {
  ScreenBuffer buffer;
  buffer.Write("aaaaa");
  buffer.Write("bbb");
  buffer.Position = 6;
  buffer.Write("cc");
  EXPECT_EQ(buffer.Bytes(), "aaaaabcc");
  buffer.Position = 2;
  buffer.Write("d");
  EXPECT_EQ(buffer.Bytes(), "aadaabcc") << "overwriting inside keeps the size";
  EXPECT_EQ(buffer.Position, 3u);
  buffer.Clear();
  EXPECT_EQ(buffer.Bytes().size(), 0u);
  EXPECT_EQ(buffer.Position, 0u);
}

TEST_F(Tables, PlayersAreRebuiltFromScratch) {
  TBusyGuard busy(tables_);
  EXPECT_EQ(AddPlayer(busy, std::string(40, 'p'), "10.0.0.1", 27005), 1);
  EXPECT_EQ(AddPlayer(busy, "Bob", "10.0.0.2", 0), 2);
  EXPECT_TRUE(IsPlayerPresent(busy, std::string(32, 'p')));
  EXPECT_TRUE(HasPlayer(busy, "Bob", "10.0.0.2"));
  EXPECT_FALSE(HasPlayer(busy, "Bob", "10.0.0.3"));
  EXPECT_FALSE(IsPlayerPresent(busy, "bob"));
  for (int i = 3; i <= kTableSlots; ++i) AddPlayer(busy, "x" + std::to_string(i), "1.1.1.1", 1);
  EXPECT_EQ(AddPlayer(busy, "late", "1.1.1.1", 1), 0);
  EXPECT_EQ(busy.PlayerCount(), kTableSlots);
  ResetPlayers(busy);
  EXPECT_EQ(busy.PlayerCount(), 0);
  EXPECT_FALSE(IsPlayerPresent(busy, "Bob"));
}

}  // namespace
