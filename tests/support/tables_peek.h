// Looks at a test's tables under their flag, one value at a time, so that a
// check never holds the flag the code under test waits for.
#pragma once

#include <string>

#include "registry/tables.h"

namespace testenv {

inline int ClientCountOf(TTables& tables) {
  TBusyGuard busy(tables);
  return busy.ClientCount();
}
inline int PlayerCountOf(TTables& tables) {
  TBusyGuard busy(tables);
  return busy.PlayerCount();
}
// A copy of player slot n.
inline PlayerSlot PlayerOf(TTables& tables, int slot) {
  TBusyGuard busy(tables);
  return busy.Player(slot);
}
// Client slot n's fields that tests look at, copied.
struct TClientPeek {
  std::string Name;
  std::string Address;
  std::string Identifier;
  int MissedUpdates = 0;
  bool InUse = false;
};
inline TClientPeek ClientOf(TTables& tables, int slot) {
  TBusyGuard busy(tables);
  const ClientSlot& client = busy.Client(slot);
  return {client.Name, client.Address, client.Identifier, client.MissedUpdates, client.InUse};
}
// Adds a client under the flag; its slot number.
inline int AddClientTo(TTables& tables, const std::string& name, const std::string& identifier,
                       const std::string& address) {
  TBusyGuard busy(tables);
  return AddClient(busy, name, identifier, address);
}

}  // namespace testenv

namespace testenv {

inline int FindClientIn(TTables& tables, const std::string& name) {
  TBusyGuard busy(tables);
  return FindClientByName(busy, name);
}
inline int AddPlayerTo(TTables& tables, const std::string& name, const std::string& address, int32_t port,
                       int32_t userId = 0) {
  TBusyGuard busy(tables);
  return AddPlayer(busy, name, address, port, userId);
}

}  // namespace testenv
