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
// Client slot n's fields that tests look at, copied under the flag and the
// slot's Guard.
struct TClientPeek {
  std::string Name;
  std::string Address;
  std::string Identifier;
  int MissedUpdates = 0;
  bool InUse = false;
  bool ScreenPending = false;
  int32_t ScreenSize = 0;
  std::string ScreenBytes;
};
inline TClientPeek PeekOf(const ClientSlot& client) REQUIRES(client.Guard) {
  return {client.Name,  client.Address,       client.Identifier, client.MissedUpdates,
          client.InUse, client.ScreenPending, client.ScreenSize, std::string(client.ScreenData.Bytes())};
}
inline TClientPeek ClientOf(TTables& tables, int slot) {
  TBusyGuard busy(tables);
  TMutexLock guard(busy.Client(slot).Guard);
  return PeekOf(busy.Client(slot));
}
inline void SetMissedUpdates(TTables& tables, int slot, int missed) {
  TBusyGuard busy(tables);
  busy.Client(slot).MissedUpdates = static_cast<uint8_t>(missed);
}
// Opens a screenshot transfer on client slot n as the screen command does,
// with the announced size and the bytes already received. Takes only the
// slot's Guard, so a test may hold the flag meanwhile.
inline void StartTransfer(TTables& tables, int slot, int32_t size = 0, const std::string& received = "") {
  TClientSlotLock lock(tables, slot);
  SetScreenPending(tables, lock.Slot(), true);
  lock.Slot().ScreenSize = size;
  if (!received.empty()) lock.Slot().ScreenData.Write(received);
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
