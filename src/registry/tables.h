// The client and player tables: 33 fixed slots each, numbered 1 to 33, slot
// number 0 meaning none. Lookups scan slots 1 to 33 and return the lowest match;
// allocation is first-fit. Texts are cut to their capacity when stored, and all
// comparisons are exact and case-sensitive.
//
// Exclusion: the tables' BusyFlag serialises the command handlers and the
// supervision cycle, which are the only writers. The tables in TTables are
// GUARDED_BY the flag and reached through a TBusyGuard, whose accessors, like
// every operation below given one, REQUIRES it: the thread safety build
// refuses any use without the flag held. The screen receiver works on a slot's
// screenshot fields without BusyFlag, through a TClientSlotLock; each
// ClientSlot therefore has a lock, Guard, that guards InUse, Address,
// Identifier and the screenshot fields. The receiver takes it; so does every
// writer of those fields (the table operations below, the commands), and every
// reader of the screenshot fields.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "base/limits.h"
#include "platform/mutex.h"
#include "registry/busy_flag.h"
#include "registry/screen_buffer.h"

struct ClientSlot {
  std::string Name;        // capacity 32
  std::string Address;     // capacity 32; peer IPv4 address of the connect
  std::string Identifier;  // capacity 64; the key of the ban base
  uint8_t MissedUpdates = 0;
  bool InUse = false;
  ScreenBuffer ScreenData GUARDED_BY(Guard);
  int32_t ScreenSize GUARDED_BY(Guard) = 0;
  // Written only through SetScreenPending, which keeps the tables' count.
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

using TClientSlots = std::array<ClientSlot, kTableSlots>;
using TPlayerSlots = std::array<PlayerSlot, kTableSlots>;
// NameKeyOf of each slot's name while the slot is in use, 0 while it is free,
// side by side, so that a lookup by name reads a few cache lines rather than
// one or two per slot. Written only by the table operations.
using TNameKeys = std::array<uint64_t, kTableSlots>;

// Both tables and the flag that guards them. The server object owns one; a
// test builds its own.
class TTables {
 public:
  TTables() = default;
  TTables(const TTables&) = delete;
  TTables& operator=(const TTables&) = delete;

  // Whether a guard holds the flag now (tests, fuzz targets). Thread safe.
  bool IsBusy() const { return busy_.IsBusy(); }
  // How many slots have a screenshot transfer open. Thread safe. A transfer
  // opens only under BusyFlag, so to a holder of the flag a 0 stays 0; it
  // lets nearly every update pass over the slots' Guards.
  int OpenTransfers() const { return openTransfers_.load(); }

 private:
  friend class TBusyGuard;
  friend class TClientSlotLock;
  TBusyFlag busy_;
  TClientSlots clients_ GUARDED_BY(busy_);
  TPlayerSlots players_ GUARDED_BY(busy_);
  TNameKeys clientKeys_ GUARDED_BY(busy_){};
  // ListedNameKey of each client's name and of each player's, 0 while the
  // slot is free: the look-ups between the two tables compare these.
  TNameKeys clientListedKeys_ GUARDED_BY(busy_){};
  TNameKeys playerListedKeys_ GUARDED_BY(busy_){};
  uint8_t clientCount_ GUARDED_BY(busy_) = 0;
  uint8_t playerCount_ GUARDED_BY(busy_) = 0;
  // Not guarded: written under a slot's Guard, read by anyone.
  std::atomic<int> openTransfers_{0};

  friend void SetScreenPending(TTables& tables, ClientSlot& slot, bool pending);
};

// Opens or ends the slot's screenshot transfer, as far as ScreenPending
// says, and keeps the tables' count of open transfers. The only writer of
// ScreenPending. Caller holds the slot's Guard (and BusyFlag to open one).
void SetScreenPending(TTables& tables, ClientSlot& slot, bool pending) REQUIRES(slot.Guard);

// Holds the tables' BusyFlag for a scope and is the way to the tables: an
// operation that needs the flag takes the guard, and REQUIRES(busy.Flag()).
// To let the flag go early, close the guard's scope. The analysis knows the
// flag by two names, tables.busy_ (so that a second guard on the same tables
// in one scope is refused) and the guard's own (so that its accessors and the
// operations given the guard see it held).
class SCOPED_CAPABILITY TBusyGuard {
 public:
  explicit TBusyGuard(TTables& tables) ACQUIRE(tables.busy_, tables_.busy_) NO_THREAD_SAFETY_ANALYSIS
      : tables_(tables) {
    tables_.busy_.Acquire();
  }
  ~TBusyGuard() RELEASE() NO_THREAD_SAFETY_ANALYSIS { tables_.busy_.Release(); }
  TBusyGuard(const TBusyGuard&) = delete;
  TBusyGuard& operator=(const TBusyGuard&) = delete;

  // The flag this guard holds, for REQUIRES on the operations given a guard.
  const TBusyFlag& Flag() const RETURN_CAPABILITY(tables_.busy_) { return tables_.busy_; }

  // Index 0 is slot 1; Client(n) and Player(n) take slot numbers.
  TClientSlots& Clients() const REQUIRES(tables_.busy_) { return tables_.clients_; }
  TPlayerSlots& Players() const REQUIRES(tables_.busy_) { return tables_.players_; }
  ClientSlot& Client(int slot) const REQUIRES(tables_.busy_) {
    return tables_.clients_[static_cast<size_t>(slot - 1)];
  }
  PlayerSlot& Player(int slot) const REQUIRES(tables_.busy_) {
    return tables_.players_[static_cast<size_t>(slot - 1)];
  }
  TNameKeys& ClientKeys() const REQUIRES(tables_.busy_) { return tables_.clientKeys_; }
  TNameKeys& ClientListedKeys() const REQUIRES(tables_.busy_) { return tables_.clientListedKeys_; }
  TNameKeys& PlayerListedKeys() const REQUIRES(tables_.busy_) { return tables_.playerListedKeys_; }
  uint8_t& ClientCount() const REQUIRES(tables_.busy_) { return tables_.clientCount_; }
  uint8_t& PlayerCount() const REQUIRES(tables_.busy_) { return tables_.playerCount_; }
  // For what needs the tables themselves (SetScreenPending, OpenTransfers).
  TTables& Tables() const { return tables_; }

 private:
  TTables& tables_;
};

// Client slot n with its Guard held for a scope, without BusyFlag: the screen
// receiver's way to a slot, and the screenshot lookups'. Through it only InUse,
// Address, Identifier and the screenshot fields may be touched (the analysis
// checks the screenshot fields: reach them as lock.Slot().Field, or pass
// lock.Slot() to a function that REQUIRES(slot.Guard)). Never taken while
// waiting for BusyFlag.
class SCOPED_CAPABILITY TClientSlotLock {
 public:
  // Takes the slot's address without BusyFlag: the slots never move, and only
  // the fields the Guard covers are touched.
  TClientSlotLock(TTables& tables, int slot) ACQUIRE(Slot().Guard) NO_THREAD_SAFETY_ANALYSIS
      : slot_(tables.clients_[static_cast<size_t>(slot - 1)]) {
    slot_.Guard.Lock();
  }
  ~TClientSlotLock() RELEASE() NO_THREAD_SAFETY_ANALYSIS { slot_.Guard.Unlock(); }
  TClientSlotLock(const TClientSlotLock&) = delete;
  TClientSlotLock& operator=(const TClientSlotLock&) = delete;

  ClientSlot& Slot() const { return slot_; }

 private:
  ClientSlot& slot_;
};

// A fingerprint of a name, never 0: the lookups by name compare it before
// the name itself, so that a lookup costs 33 integer compares and one string
// compare. Slot names are written only by the table operations, which keep
// the keys.
uint64_t NameKeyOf(const std::string& name);

// Client table.
int AddClient(const TBusyGuard& busy, const std::string& name, const std::string& identifier,
              const std::string& address) REQUIRES(busy.Flag());
void RemoveClient(const TBusyGuard& busy, int slot) REQUIRES(busy.Flag());
// The client that announced exactly this name (its own commands name it so).
int FindClientByName(const TBusyGuard& busy, const std::string& name) REQUIRES(busy.Flag());
bool IsClientOnline(const TBusyGuard& busy, const std::string& name) REQUIRES(busy.Flag());
// Whether a client at this address announced a name that the game server
// lists as playerName (ListedAs).
bool HasClient(const TBusyGuard& busy, const std::string& playerName, const std::string& address) REQUIRES(busy.Flag());
// The lowest such client slot; 0 when none.
int FindClientOfPlayer(const TBusyGuard& busy, const std::string& playerName, const std::string& address)
    REQUIRES(busy.Flag());
// The lowest client slot whose announced name the game server lists as
// playerName, from any address; 0 when none.
int FindClientListedAs(const TBusyGuard& busy, const std::string& playerName) REQUIRES(busy.Flag());
void ResetClients(const TBusyGuard& busy) REQUIRES(busy.Flag());
// Screenshot lookups; take each slot's Guard in turn, without BusyFlag. Thread safe.
int FindScreenSender(TTables& tables, const std::string& address);
bool IsScreenPendingFrom(TTables& tables, const std::string& address);
// The announced sizes of all transfers under way, summed. Under BusyFlag, so
// that no transfer opens meanwhile (the receiver only ends them).
long long PendingScreenBytes(const TBusyGuard& busy) REQUIRES(busy.Flag());

// Player table.
int AddPlayer(const TBusyGuard& busy, const std::string& name, const std::string& address, int32_t port,
              int32_t userId = 0) REQUIRES(busy.Flag());
void ResetPlayers(const TBusyGuard& busy) REQUIRES(busy.Flag());
// The player of a client, as the game server lists it (ListedAs): the lowest
// such slot whose address is the client's, else the lowest from any address
// (a player behind another address than his client's); 0 when none.
int FindPlayerOfClient(const TBusyGuard& busy, const std::string& clientName, const std::string& clientAddress)
    REQUIRES(busy.Flag());
// Whether the client in this slot has its player, at its address, on the
// last player list.
bool HasPlayerOfClient(const TBusyGuard& busy, int clientSlot) REQUIRES(busy.Flag());
// Whether any player on the last list is listed as this client's name.
bool IsPlayerPresent(const TBusyGuard& busy, const std::string& clientName) REQUIRES(busy.Flag());

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
// held for the copy only. Thread safe; never call with the flag held.
std::vector<TClientView> SnapshotClients(TTables& tables);

// "total players online: " and the client count on the console.
void PrintOnlineCount(const TBusyGuard& busy) REQUIRES(busy.Flag());
