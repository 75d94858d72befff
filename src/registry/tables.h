// The client and player tables: 33 fixed slots each, numbered 1 to 33, slot
// number 0 meaning none. Lookups scan slots 1 to 33 and return the lowest match;
// allocation is first-fit. Texts are cut to their capacity when stored, and all
// comparisons are exact and case-sensitive.
//
// Exclusion: BusyFlag (busy_flag.h) serialises the command handlers and the
// supervision cycle, which are the only writers. The screen receiver works on a
// slot's screenshot fields without BusyFlag; each ClientSlot therefore has a
// lock, Guard, that guards InUse, Address, Identifier and the screenshot fields.
// The receiver takes it; so does every writer of those fields (the table
// operations below, the commands), and every reader of the screenshot fields.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/limits.h"
#include "base/mutex.h"
#include "platform/page_buffer.h"
#include "registry/busy_flag.h"

// A screenshot under transfer: bytes written at a position. Its memory is
// mapped from the system for the announced size when the transfer opens
// (pages count only once written) and unmapped by Clear, so a transfer that
// ends in any way gives its memory back at once.
class ScreenBuffer {
 public:
  ScreenBuffer() = default;
  ScreenBuffer(ScreenBuffer&& other) noexcept;
  ScreenBuffer& operator=(ScreenBuffer&& other) noexcept;

  size_t Position = 0;  // where the next piece is written

  // Makes room for capacity bytes up front, so that no piece moves the
  // buffer. False when the system gives no memory.
  bool Reserve(size_t capacity);
  // Writes at Position, extending the size when the write passes the end
  // (and the room, when it passes that). False, with nothing written, when
  // the system gives no memory.
  bool Write(std::string_view piece);
  // The bytes held; valid until the next Write or Clear.
  std::string_view Bytes() const { return {pages_.Data(), size_}; }
  size_t Size() const { return size_; }
  // The memory mapped now (tests).
  size_t Capacity() const { return pages_.Capacity(); }
  // Size 0, position 0, and the memory returned to the system.
  void Clear();

 private:
  platform::TPageBuffer pages_;
  size_t size_ = 0;
};

struct ClientSlot {
  std::string Name;        // capacity 32
  std::string Address;     // capacity 32; peer IPv4 address of the connect
  std::string Identifier;  // capacity 64; the key of the ban base
  uint8_t MissedUpdates = 0;
  bool InUse = false;
  ScreenBuffer ScreenData GUARDED_BY(Guard);
  int32_t ScreenSize GUARDED_BY(Guard) = 0;
  bool ScreenPending GUARDED_BY(Guard) = false;
  // Counts the transfers opened on this slot, so that the receiver can tell
  // whether the transfer it has just saved is still the slot's.
  uint32_t ScreenTransfer GUARDED_BY(Guard) = 0;
  // Guards InUse, Address, Identifier, ScreenData, ScreenSize, ScreenPending
  // and ScreenTransfer against the screen receiver. Never held while waiting
  // for BusyFlag. Only the screenshot fields carry GUARDED_BY: InUse, Address
  // and Identifier are written under both Guard and BusyFlag, so a holder of
  // BusyFlag alone reads them safely, which the annotations cannot say.
  mutable TMutex Guard;
};

struct PlayerSlot {
  std::string Name;     // capacity 32
  std::string Address;  // capacity 32, without the port
  int32_t Port = 0;
  int32_t UserId = 0;   // the engine's userid from its status list; 0 when unknown
  bool InUse = false;
};

// Index 0 is slot 1. Use Client(n) and Player(n) with slot numbers.
extern std::array<ClientSlot, kTableSlots> ClientTable;
extern std::array<PlayerSlot, kTableSlots> PlayerTable;
extern uint8_t ClientCount;
extern uint8_t PlayerCount;

ClientSlot& Client(int slot);
PlayerSlot& Player(int slot);

// Client table. Caller holds BusyFlag.
int AddClient(const std::string& name, const std::string& identifier, const std::string& address) REQUIRES(BusyFlag);
void RemoveClient(int slot) REQUIRES(BusyFlag);
int FindClientByName(const std::string& name) REQUIRES(BusyFlag);
bool IsClientOnline(const std::string& name) REQUIRES(BusyFlag);
bool HasClient(const std::string& name, const std::string& address) REQUIRES(BusyFlag);
void ResetClients() REQUIRES(BusyFlag);
// Screenshot lookups; take each slot's Guard in turn. Thread safe.
int FindScreenSender(const std::string& address);
bool IsScreenPendingFrom(const std::string& address);
// The announced sizes of all transfers under way, summed. Caller holds
// BusyFlag, so that no transfer opens meanwhile (the receiver only ends them).
long long PendingScreenBytes() REQUIRES(BusyFlag);

// Player table. Caller holds BusyFlag.
int AddPlayer(const std::string& name, const std::string& address, int32_t port, int32_t userId = 0) REQUIRES(BusyFlag);
void ResetPlayers() REQUIRES(BusyFlag);
bool HasPlayer(const std::string& name, const std::string& address) REQUIRES(BusyFlag);
bool IsPlayerPresent(const std::string& name) REQUIRES(BusyFlag);
// The lowest slot whose player has exactly this name; 0 when none.
int FindPlayerByName(const std::string& name);

// A copy of one client slot in use, for readers outside the command threads.
struct TClientView {
  int Slot = 0;
  std::string Name;
  std::string Identifier;
  std::string Address;
  int MissedUpdates = 0;
  bool ScreenPending = false;  // a screenshot transfer is under way
  int32_t ScreenSize = 0;      // its announced size
  size_t ScreenReceived = 0;   // bytes received so far
};
// The clients in use, copied under BusyFlag (and each slot's Guard), which is
// held for the copy only. Thread safe; never call with BusyFlag held.
std::vector<TClientView> SnapshotClients() EXCLUDES(BusyFlag);

// "total players online: " and ClientCount on the console. Caller holds BusyFlag.
void PrintOnlineCount() REQUIRES(BusyFlag);
