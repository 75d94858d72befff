// What the supervision keeps of the game server between runs (TSupervision
// owns it). Main thread only (the supervision cycle).
#pragma once

#include <string>
#include <utility>
#include <vector>

// Which list the players were last read from.
enum class PlayerListSource {
  None,    // no list read yet
  Addon,   // the "zelk_stat 1" add-on
  Engine,  // the engine's own "status"
};

struct TSupervisionMemory {
  // The status mark: header field 2 of the last good "zelk_stat 1" answer, or
  // the map of the last "status" list (first 32 characters); empty at start.
  // A failed request keeps it, so that one lost answer reloads nothing.
  std::string StatusMark;
  PlayerListSource PlayerList = PlayerListSource::None;
  // The clients dropped for silence whose players have not been kicked yet,
  // so that the kick can say why. Bounded by the table's size: the oldest
  // goes first.
  std::vector<std::pair<std::string, std::string>> Silenced;
  // The players whose clients a ban took since the last kick pass; the ban
  // kicks them itself. Under the tables' BusyFlag (the ban's command thread
  // writes, the run reads and empties it): touched only by functions that
  // take a TBusyGuard. Bounded by the table's size: the oldest goes first.
  std::vector<std::string> KickedByBan;
  // The connects refused for a ban since their players were last kicked, as
  // {name, address, identifier}; under the tables' BusyFlag like KickedByBan.
  // Bounded by the table's size: the oldest goes first.
  struct TBanRefusal {
    std::string Name;
    std::string Address;
    std::string Identifier;
  };
  std::vector<TBanRefusal> BanRefusals;
};
