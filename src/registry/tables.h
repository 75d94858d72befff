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
#include <mutex>
#include <string>
#include <vector>

#include "base/limits.h"

// A growable byte buffer with a write position: a screenshot under transfer.
struct ScreenBuffer {
  std::string Bytes;    // Bytes.size() is the buffer's size
  size_t Position = 0;  // where the next piece is written

  // Writes at Position, extending the size when the write passes the end.
  void Write(const std::string& piece);
  // Size 0 and position 0; keeps the allocation.
  void Clear();
};

struct ClientSlot {
  std::string Name;        // capacity 32
  std::string Address;     // capacity 32; peer IPv4 address of the connect
  std::string Identifier;  // capacity 64; the key of the ban base
  uint8_t MissedUpdates = 0;
  bool InUse = false;
  ScreenBuffer ScreenData;
  int32_t ScreenSize = 0;
  bool ScreenPending = false;
  // Guards InUse, Address, Identifier, ScreenData, ScreenSize and ScreenPending
  // against the screen receiver. Never held while waiting for BusyFlag.
  mutable std::mutex Guard;
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
int AddClient(const std::string& name, const std::string& identifier, const std::string& address);
void RemoveClient(int slot);
int FindClientByName(const std::string& name);
bool IsClientOnline(const std::string& name);
bool HasClient(const std::string& name, const std::string& address);
void ResetClients();
// Screenshot lookups; take each slot's Guard in turn. Thread safe.
int FindScreenSender(const std::string& address);
bool IsScreenPendingFrom(const std::string& address);

// Player table. Caller holds BusyFlag.
int AddPlayer(const std::string& name, const std::string& address, int32_t port, int32_t userId = 0);
void ResetPlayers();
bool HasPlayer(const std::string& name, const std::string& address);
bool IsPlayerPresent(const std::string& name);
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
std::vector<TClientView> SnapshotClients();

// "total players online: " and ClientCount on the console. Caller holds BusyFlag.
void PrintOnlineCount();
