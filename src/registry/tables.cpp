#include "registry/tables.h"

#include <algorithm>

#include "platform/console.h"
#include "registry/listed_name.h"

namespace {

// Empties a slot's fields. Caller holds the slot's Guard.
void ClearClientFields(TTables& tables, ClientSlot& slot) REQUIRES(slot.Guard) {
  slot.Name.clear();
  slot.Address.clear();
  slot.Identifier.clear();
  slot.MissedUpdates = 0;
  slot.InUse = false;
  SetScreenPending(tables, slot, false);
  slot.ScreenSize = 0;
  slot.ScreenData.Clear();
}

}  // namespace

void SetScreenPending(TTables& tables, ClientSlot& slot, bool pending) {
  if (slot.ScreenPending == pending) return;
  slot.ScreenPending = pending;
  tables.openTransfers_ += pending ? 1 : -1;
}

uint64_t NameKeyOf(const std::string& name) {
  // FNV-1a, 64 bits.
  uint64_t key = 14695981039346656037ull;
  for (unsigned char c : name) key = (key ^ c) * 1099511628211ull;
  return key == 0 ? 1 : key;
}

int AddClient(const TBusyGuard& busy, const std::string& name, const std::string& identifier,
              const std::string& address) {
  for (int i = 1; i <= kTableSlots; ++i) {
    ClientSlot& slot = busy.Client(i);
    TMutexLock guard(slot.Guard);
    if (slot.InUse) continue;
    ClearClientFields(busy.Tables(), slot);
    slot.Name = name.substr(0, kNameChars);
    busy.ClientKeys()[static_cast<size_t>(i - 1)] = NameKeyOf(slot.Name);
    busy.ClientListedKeys()[static_cast<size_t>(i - 1)] = ListedNameKey(slot.Name);
    slot.Identifier = identifier.substr(0, kIdentifierChars);
    slot.Address = address.substr(0, kAddressChars);
    slot.InUse = true;
    ++busy.ClientCount();
    return i;
  }
  return 0;
}

void RemoveClient(const TBusyGuard& busy, int slot) {
  ClientSlot& client = busy.Client(slot);
  TMutexLock guard(client.Guard);
  if (!client.InUse) return;
  ClearClientFields(busy.Tables(), client);
  busy.ClientKeys()[static_cast<size_t>(slot - 1)] = 0;
  busy.ClientListedKeys()[static_cast<size_t>(slot - 1)] = 0;
  --busy.ClientCount();
}

int FindClientByName(const TBusyGuard& busy, const std::string& name) {
  const uint64_t key = NameKeyOf(name);
  const TNameKeys& keys = busy.ClientKeys();
  for (int i = 1; i <= kTableSlots; ++i) {
    if (keys[static_cast<size_t>(i - 1)] != key) continue;
    const ClientSlot& slot = busy.Client(i);
    if (slot.InUse && slot.Name == name) return i;
  }
  return 0;
}

bool IsClientOnline(const TBusyGuard& busy, const std::string& name) { return FindClientByName(busy, name) != 0; }

namespace {

// The lowest client slot listed as playerName whose address passes `wanted`.
template <typename Wanted>
int FindListedClient(const TBusyGuard& busy, const std::string& playerName, Wanted wanted) REQUIRES(busy.Flag()) {
  const uint64_t key = ListedNameKey(playerName);
  const TNameKeys& keys = busy.ClientListedKeys();
  for (int i = 1; i <= kTableSlots; ++i) {
    if (keys[static_cast<size_t>(i - 1)] != key) continue;
    const ClientSlot& slot = busy.Client(i);
    if (slot.InUse && wanted(slot.Address) && ListedAs(playerName, slot.Name)) return i;
  }
  return 0;
}

// The lowest player slot listed as clientName (its key given) whose address
// passes `wanted`.
template <typename Wanted>
int FindListedPlayer(const TBusyGuard& busy, const std::string& clientName, uint64_t key, Wanted wanted)
    REQUIRES(busy.Flag()) {
  const TNameKeys& keys = busy.PlayerListedKeys();
  for (int i = 1; i <= kTableSlots; ++i) {
    if (keys[static_cast<size_t>(i - 1)] != key) continue;
    const PlayerSlot& slot = busy.Player(i);
    if (slot.InUse && wanted(slot.Address) && ListedAs(slot.Name, clientName)) return i;
  }
  return 0;
}

bool AnyAddress(const std::string&) { return true; }

}  // namespace

bool HasClient(const TBusyGuard& busy, const std::string& playerName, const std::string& address) {
  return FindClientOfPlayer(busy, playerName, address) != 0;
}

int FindClientOfPlayer(const TBusyGuard& busy, const std::string& playerName, const std::string& address) {
  return FindListedClient(busy, playerName, [&](const std::string& at) { return at == address; });
}

int FindClientListedAs(const TBusyGuard& busy, const std::string& playerName) {
  return FindListedClient(busy, playerName, AnyAddress);
}

void ResetClients(const TBusyGuard& busy) {
  for (ClientSlot& slot : busy.Clients()) {
    TMutexLock guard(slot.Guard);
    ClearClientFields(busy.Tables(), slot);
  }
  busy.ClientKeys().fill(0);
  busy.ClientListedKeys().fill(0);
  busy.ClientCount() = 0;
}

namespace {

bool SendsScreenFrom(const ClientSlot& slot, const std::string& address) REQUIRES(slot.Guard) {
  return slot.InUse && slot.ScreenPending && slot.Address == address;
}

}  // namespace

int FindScreenSender(TTables& tables, const std::string& address) {
  if (tables.OpenTransfers() == 0) return 0;  // nearly always: no slot to look at
  for (int i = 1; i <= kTableSlots; ++i) {
    TClientSlotLock lock(tables, i);
    if (SendsScreenFrom(lock.Slot(), address)) return i;
  }
  return 0;
}

bool IsScreenPendingFrom(TTables& tables, const std::string& address) {
  return FindScreenSender(tables, address) != 0;
}

long long PendingScreenBytes(const TBusyGuard& busy) {
  long long total = 0;
  for (const ClientSlot& slot : busy.Clients()) {
    TMutexLock guard(slot.Guard);
    if (slot.InUse && slot.ScreenPending) total += std::max<int32_t>(slot.ScreenSize, 0);
  }
  return total;
}

int AddPlayer(const TBusyGuard& busy, const std::string& name, const std::string& address, int32_t port,
              int32_t userId) {
  for (int i = 1; i <= kTableSlots; ++i) {
    PlayerSlot& slot = busy.Player(i);
    if (slot.InUse) continue;
    slot.Name = name.substr(0, kNameChars);
    busy.PlayerListedKeys()[static_cast<size_t>(i - 1)] = ListedNameKey(slot.Name);
    slot.Address = address.substr(0, kAddressChars);
    slot.Port = port;
    slot.UserId = userId;
    slot.InUse = true;
    ++busy.PlayerCount();
    return i;
  }
  return 0;
}

void ResetPlayers(const TBusyGuard& busy) {
  for (PlayerSlot& slot : busy.Players()) slot = PlayerSlot{};
  busy.PlayerListedKeys().fill(0);
  busy.PlayerCount() = 0;
}

int FindPlayerOfClient(const TBusyGuard& busy, const std::string& clientName, const std::string& clientAddress) {
  const uint64_t key = ListedNameKey(clientName);
  const int here = FindListedPlayer(busy, clientName, key, [&](const std::string& at) { return at == clientAddress; });
  return here != 0 ? here : FindListedPlayer(busy, clientName, key, AnyAddress);
}

bool HasPlayerOfClient(const TBusyGuard& busy, int clientSlot) {
  const ClientSlot& client = busy.Client(clientSlot);
  if (!client.InUse) return false;
  const uint64_t key = busy.ClientListedKeys()[static_cast<size_t>(clientSlot - 1)];
  return FindListedPlayer(busy, client.Name, key, [&](const std::string& at) { return at == client.Address; }) != 0;
}

bool IsPlayerPresent(const TBusyGuard& busy, const std::string& clientName) {
  return FindListedPlayer(busy, clientName, ListedNameKey(clientName), AnyAddress) != 0;
}

void PrintOnlineCount(const TBusyGuard& busy) {
  platform::ConsoleLine("total players online: " + std::to_string(busy.ClientCount()));
}

std::vector<TClientView> SnapshotClients(TTables& tables) {
  std::vector<TClientView> views;
  TBusyGuard busy(tables);
  for (int i = 1; i <= kTableSlots; ++i) {
    const ClientSlot& slot = busy.Client(i);
    TMutexLock guard(slot.Guard);
    if (!slot.InUse) continue;
    views.push_back({i, slot.Name, slot.Identifier, slot.Address, slot.MissedUpdates, slot.ScreenPending,
                     slot.ScreenSize, slot.ScreenData.Size()});
  }
  return views;
}
