// A client's announced name against the game server's listing of its player,
// with pairs seen on a real engine (ReHLDS) and read from stock HLDS.
#include "registry/listed_name.h"

#include <gtest/gtest.h>

#include "registry/tables.h"

namespace {

std::string Times(const std::string& piece, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += piece;
  return out;
}

struct TPair {
  std::string Listed;
  std::string Announced;
  bool Matches;
};

TEST(ListedName, EachEnginesListingMatchesTheAnnouncedNameAndNothingElse) {
  const std::string zhe = "\xD0\x96";  // Ж, two bytes
  const TPair pairs[] = {
      {"Tom\xEF\xBC\x86Jerry", "Tom&Jerry", true},  // ReHLDS: full-width ampersand
      {"Tom Jerry", "Tom&Jerry", true},             // stock HLDS: a blank
      {"50\xEF\xBC\x85 a+\xEF\xBD\x82", "50% a+b", true},
      {"\xEF\xBC\x83" "1 Sniper", "#1 Sniper", true},
      {"1 Sniper", "#1 Sniper", true},        // stock blanks a leading '#'
      {"Two  Spaces", "Two Spaces", true},    // our command line collapsed the blanks
      {Times(zhe, 15), Times(zhe, 16), true},  // cut to 31 bytes, the broken character dropped
      {"unnamed", "console", true},
      {"unnamed", "CONSOLE", true},
      {"(1)Bob", "Bob", true},                 // a second player of the name
      {"(1)" + Times(zhe, 14), Times(zhe, 16), true},
      {"Ann", "Ann \"Q\" Lee", true},          // a quote ends the name
      {"Very  Long  Name  With  Blanks", "Very Long Name With Blanks Xyz", true},
      {"Bob", "bob", false},
      {"Bob", "Bobby", false},
      {"Bobby", "Bob", false},
      {"(1)Bob", "Bo", false},
      {"Tom Jerry", "Tom Jerri", false},
      {"Very", "Very Long", false},
      {"unnamed", "Bob", false},
  };
  for (const TPair& pair : pairs) {
    EXPECT_EQ(ListedAs(pair.Listed, pair.Announced), pair.Matches) << pair.Listed << " / " << pair.Announced;
    if (pair.Matches) {
      EXPECT_EQ(ListedNameKey(pair.Listed), ListedNameKey(pair.Announced)) << pair.Listed << " / " << pair.Announced;
    }
  }
}

// The tables find a client's player through the rule, and prefer the player
// at the client's own address when two are listed as its name.
TEST(ListedName, TablesMatchClientsAndPlayersThroughTheRule) {
  TTables tables;
  TBusyGuard busy(tables);
  const int client = AddClient(busy, "Tom&Jerry", "ID1", "10.0.0.7");
  AddPlayer(busy, "Tom&Jerry", "10.0.0.9", 27005, 3);
  const int own = AddPlayer(busy, "(1)Tom\xEF\xBC\x86Jerry", "10.0.0.7", 27005, 4);
  EXPECT_TRUE(HasClient(busy, "(1)Tom\xEF\xBC\x86Jerry", "10.0.0.7"));
  EXPECT_FALSE(HasClient(busy, "Tom&Jerry", "10.0.0.9"));
  EXPECT_EQ(FindClientListedAs(busy, "Tom&Jerry"), client);
  EXPECT_EQ(FindPlayerOfClient(busy, "Tom&Jerry", "10.0.0.7"), own);
  EXPECT_TRUE(HasPlayerOfClient(busy, client));
  RemoveClient(busy, client);
  EXPECT_FALSE(HasPlayerOfClient(busy, client));
  EXPECT_EQ(FindClientListedAs(busy, "Tom&Jerry"), 0);
}

}  // namespace
