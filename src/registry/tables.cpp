#include "registry/tables.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "platform/console.h"
#include "registry/busy_flag.h"

std::array<ClientSlot, kTableSlots> ClientTable;
std::array<PlayerSlot, kTableSlots> PlayerTable;
uint8_t ClientCount = 0;
uint8_t PlayerCount = 0;

namespace {

// Empties a slot's fields. Caller holds the slot's Guard.
void ClearClientFields(ClientSlot& slot) REQUIRES(slot.Guard) {
  slot.Name.clear();
  slot.Address.clear();
  slot.Identifier.clear();
  slot.MissedUpdates = 0;
  slot.InUse = false;
  slot.ScreenPending = false;
  slot.ScreenSize = 0;
  slot.ScreenData.Clear();
}

}  // namespace

ScreenBuffer::ScreenBuffer(ScreenBuffer&& other) noexcept
    : Position(std::exchange(other.Position, 0)), pages_(std::move(other.pages_)),
      size_(std::exchange(other.size_, 0)) {}

ScreenBuffer& ScreenBuffer::operator=(ScreenBuffer&& other) noexcept {
  if (this != &other) {
    Position = std::exchange(other.Position, 0);
    pages_ = std::move(other.pages_);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

bool ScreenBuffer::Reserve(size_t capacity) {
  if (capacity <= pages_.Capacity()) return true;
  std::optional<platform::TPageBuffer> larger = platform::TPageBuffer::Map(capacity, nullptr);
  if (!larger) return false;
  if (size_ > 0) std::memcpy(larger->Data(), pages_.Data(), size_);
  pages_ = std::move(*larger);
  return true;
}

bool ScreenBuffer::Write(std::string_view piece) {
  const size_t end = Position + piece.size();
  if (end > pages_.Capacity() && !Reserve(std::max(end, 2 * pages_.Capacity()))) return false;
  if (!piece.empty()) std::memcpy(pages_.Data() + Position, piece.data(), piece.size());
  // A position set past the end leaves zero bytes between, as the mapping holds.
  size_ = std::max(size_, end);
  Position = end;
  return true;
}

void ScreenBuffer::Clear() {
  pages_.Release();
  size_ = 0;
  Position = 0;
}

ClientSlot& Client(int slot) { return ClientTable[static_cast<size_t>(slot - 1)]; }
PlayerSlot& Player(int slot) { return PlayerTable[static_cast<size_t>(slot - 1)]; }

int AddClient(const std::string& name, const std::string& identifier, const std::string& address) {
  for (int i = 1; i <= kTableSlots; ++i) {
    ClientSlot& slot = Client(i);
    TMutexLock guard(slot.Guard);
    if (slot.InUse) continue;
    ClearClientFields(slot);
    slot.Name = name.substr(0, kNameChars);
    slot.Identifier = identifier.substr(0, kIdentifierChars);
    slot.Address = address.substr(0, kAddressChars);
    slot.InUse = true;
    ++ClientCount;
    return i;
  }
  return 0;
}

void RemoveClient(int slot) {
  ClientSlot& client = Client(slot);
  TMutexLock guard(client.Guard);
  if (!client.InUse) return;
  ClearClientFields(client);
  --ClientCount;
}

int FindClientByName(const std::string& name) {
  for (int i = 1; i <= kTableSlots; ++i) {
    const ClientSlot& slot = Client(i);
    if (slot.InUse && slot.Name == name) return i;
  }
  return 0;
}

bool IsClientOnline(const std::string& name) { return FindClientByName(name) != 0; }

bool HasClient(const std::string& name, const std::string& address) {
  for (int i = 1; i <= kTableSlots; ++i) {
    const ClientSlot& slot = Client(i);
    if (slot.InUse && slot.Name == name && slot.Address == address) return true;
  }
  return false;
}

void ResetClients() {
  for (int i = 1; i <= kTableSlots; ++i) {
    ClientSlot& slot = Client(i);
    TMutexLock guard(slot.Guard);
    ClearClientFields(slot);
  }
  ClientCount = 0;
}

int FindScreenSender(const std::string& address) {
  for (int i = 1; i <= kTableSlots; ++i) {
    const ClientSlot& slot = Client(i);
    TMutexLock guard(slot.Guard);
    if (slot.InUse && slot.ScreenPending && slot.Address == address) return i;
  }
  return 0;
}

bool IsScreenPendingFrom(const std::string& address) { return FindScreenSender(address) != 0; }

long long PendingScreenBytes() {
  long long total = 0;
  for (const ClientSlot& slot : ClientTable) {
    TMutexLock guard(slot.Guard);
    if (slot.InUse && slot.ScreenPending) total += std::max<int32_t>(slot.ScreenSize, 0);
  }
  return total;
}

int AddPlayer(const std::string& name, const std::string& address, int32_t port, int32_t userId) {
  for (int i = 1; i <= kTableSlots; ++i) {
    PlayerSlot& slot = Player(i);
    if (slot.InUse) continue;
    slot.Name = name.substr(0, kNameChars);
    slot.Address = address.substr(0, kAddressChars);
    slot.Port = port;
    slot.UserId = userId;
    slot.InUse = true;
    ++PlayerCount;
    return i;
  }
  return 0;
}

void ResetPlayers() {
  for (PlayerSlot& slot : PlayerTable) slot = PlayerSlot{};
  PlayerCount = 0;
}

bool HasPlayer(const std::string& name, const std::string& address) {
  for (const PlayerSlot& slot : PlayerTable) {
    if (slot.InUse && slot.Name == name && slot.Address == address) return true;
  }
  return false;
}

bool IsPlayerPresent(const std::string& name) { return FindPlayerByName(name) != 0; }

int FindPlayerByName(const std::string& name) {
  for (int i = 1; i <= kTableSlots; ++i) {
    if (Player(i).InUse && Player(i).Name == name) return i;
  }
  return 0;
}

void PrintOnlineCount() { platform::ConsoleLine("total players online: " + std::to_string(ClientCount)); }

std::vector<TClientView> SnapshotClients() {
  std::vector<TClientView> views;
  TBusyGuard busy;
  for (int i = 1; i <= kTableSlots; ++i) {
    const ClientSlot& slot = Client(i);
    TMutexLock guard(slot.Guard);
    if (!slot.InUse) continue;
    views.push_back({i, slot.Name, slot.Identifier, slot.Address, slot.MissedUpdates, slot.ScreenPending,
                     slot.ScreenSize, slot.ScreenData.Size()});
  }
  return views;
}
