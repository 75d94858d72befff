// The client and player tables: first-fit slots, cut texts, exact lookups.
#include "registry/tables.h"

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace {

class Tables : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetClients();
    ResetPlayers();
  }
  void TearDown() override {
    ResetClients();
    ResetPlayers();
  }
};

TEST_F(Tables, FreedSlotIsReusedFirstAndAFullTableChangesNothing) {
  for (int i = 1; i <= kTableSlots; ++i) ASSERT_EQ(AddClient("p" + std::to_string(i), "id", "10.0.0.1"), i);
  EXPECT_EQ(AddClient("extra", "id", "10.0.0.1"), 0);
  EXPECT_EQ(ClientCount, kTableSlots);
  RemoveClient(2);
  EXPECT_EQ(ClientCount, kTableSlots - 1);
  EXPECT_FALSE(IsClientOnline("p2"));
  EXPECT_EQ(AddClient("new", "id", "10.0.0.1"), 2);
}

TEST_F(Tables, TextsAreCutToTheirCapacityAndComparedExactly) {
  const std::string longName(40, 'n');
  int slot = AddClient(longName, std::string(70, 'i'), "10.0.0.1");
  EXPECT_EQ(Client(slot).Name, std::string(32, 'n'));
  EXPECT_EQ(Client(slot).Identifier, std::string(64, 'i'));
  EXPECT_EQ(FindClientByName(longName), 0);
  EXPECT_FALSE(IsClientOnline(longName));
  EXPECT_EQ(FindClientByName(std::string(32, 'n')), slot);

  AddClient("Bob", "1", "10.0.0.2");
  EXPECT_FALSE(IsClientOnline("bob"));
  EXPECT_TRUE(HasClient("Bob", "10.0.0.2"));
  EXPECT_FALSE(HasClient("Bob", "10.0.0.3"));
  EXPECT_FALSE(IsClientOnline(""));
  EXPECT_FALSE(HasClient("", ""));
}

TEST_F(Tables, ScreenSenderNeedsPendingAndTakesTheLowerSlot) {
  AddClient("a", "1", "10.0.0.5");
  int b = AddClient("b", "2", "10.0.0.5");
  int c = AddClient("c", "3", "10.0.0.5");
  EXPECT_EQ(FindScreenSender("10.0.0.5"), 0);
  Client(c).ScreenPending = true;
  Client(b).ScreenPending = true;
  EXPECT_EQ(FindScreenSender("10.0.0.5"), b);
  EXPECT_TRUE(IsScreenPendingFrom("10.0.0.5"));
  EXPECT_FALSE(IsScreenPendingFrom("10.0.0.6"));
}

TEST_F(Tables, ResetFreesEverySlotAndKeepsTheBuffers) {
  int slot = AddClient("a", "1", "10.0.0.5");
  Client(slot).ScreenData.Write(std::string(100, 'x'));
  Client(slot).ScreenPending = true;
  Client(slot).ScreenSize = 100;
  const ScreenBuffer* buffer = &Client(slot).ScreenData;
  ResetClients();
  EXPECT_EQ(ClientCount, 0);
  EXPECT_EQ(FindClientByName("a"), 0);
  EXPECT_EQ(&Client(1).ScreenData, buffer);
  EXPECT_TRUE(Client(1).ScreenData.Bytes().empty());
  EXPECT_EQ(Client(1).ScreenSize, 0);
  EXPECT_FALSE(Client(1).ScreenPending);
  EXPECT_EQ(AddClient("b", "2", "10.0.0.6"), 1);
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
  EXPECT_EQ(AddPlayer(std::string(40, 'p'), "10.0.0.1", 27005), 1);
  EXPECT_EQ(AddPlayer("Bob", "10.0.0.2", 0), 2);
  EXPECT_TRUE(IsPlayerPresent(std::string(32, 'p')));
  EXPECT_TRUE(HasPlayer("Bob", "10.0.0.2"));
  EXPECT_FALSE(HasPlayer("Bob", "10.0.0.3"));
  EXPECT_FALSE(IsPlayerPresent("bob"));
  for (int i = 3; i <= kTableSlots; ++i) AddPlayer("x" + std::to_string(i), "1.1.1.1", 1);
  EXPECT_EQ(AddPlayer("late", "1.1.1.1", 1), 0);
  EXPECT_EQ(PlayerCount, kTableSlots);
  ResetPlayers();
  EXPECT_EQ(PlayerCount, 0);
  EXPECT_FALSE(IsPlayerPresent("Bob"));
}

}  // namespace
