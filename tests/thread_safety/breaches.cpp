// Lock breaches that the thread safety build must refuse, one per BREACH
// number, compiled one at a time by check_breaches.sh: each must fail under
// clang -Wthread-safety -Werror with the error its #elif line names, and
// BREACH=0 (the same code done right) must compile clean. Compiled, never
// linked or run.
#include "platform/mutex.h"
#include "registry/tables.h"

#if BREACH == 0
// Done right: the flag for the tables, the slot's Guard for its screenshot
// fields, each guard used only inside its scope.
int WithTheFlag(TTables& tables) {
  TBusyGuard busy(tables);
  const int slot = AddClient(busy, "Bob", "1", "10.0.0.5");
  TMutexLock guard(busy.Client(slot).Guard);
  busy.Client(slot).ScreenSize = 0;
  return busy.ClientCount();
}
int CountOf(const TBusyGuard& busy) REQUIRES(busy.Flag()) { return FindClientByName(busy, "Bob"); }
void SlotAlone(TTables& tables) {
  TClientSlotLock lock(tables, 1);
  lock.Slot().ScreenSize = 0;
}
#elif BREACH == 1  // expects: writing variable 'clientCount_' requires holding mutex 'tables.busy_'
// A table member touched without BusyFlag, by a friend of the tables (this
// definition stands in for the one in tables.cpp; the file is never linked).
void SetScreenPending(TTables& tables, ClientSlot& slot, bool pending) {
  slot.ScreenPending = pending;
  tables.clientCount_ = 0;
}
#elif BREACH == 2  // expects: calling function 'ClientCount' requires holding mutex 'busy.tables_.busy_'
// A guard used after it let the flag go.
int AfterTheEnd(TTables& tables) {
  TBusyGuard busy(tables);
  busy.~TBusyGuard();
  return busy.ClientCount();
}
#elif BREACH == 3  // expects: calling function 'FindClientByName' requires holding mutex 'busy.tables_.busy_'
// An operation that REQUIRES BusyFlag, called by a function that does not
// require it of its caller.
int CountOf(const TBusyGuard& busy) { return FindClientByName(busy, "Bob"); }
#elif BREACH == 4  // expects: writing variable 'ScreenSize' requires holding mutex 'busy.Client(1).Guard'
// A slot's screenshot field written under BusyFlag alone, without the slot's
// Guard (the screen receiver works on it without the flag).
void WithoutTheGuard(TTables& tables) {
  TBusyGuard busy(tables);
  busy.Client(1).ScreenSize = 0;
}
#elif BREACH == 5  // expects: writing variable 'ScreenSize' requires holding mutex 'lock.Slot().Guard'
// A slot written through its handle after the handle let the Guard go.
void AfterTheSlotLock(TTables& tables) {
  TClientSlotLock lock(tables, 1);
  lock.~TClientSlotLock();
  lock.Slot().ScreenSize = 0;
}
#elif BREACH == 6  // expects: acquiring mutex 'tables.busy_' that is already held
// A second guard on the same tables in one scope: a thread waiting for itself.
void TwiceOver(TTables& tables) {
  TBusyGuard busy(tables);
  TBusyGuard again(tables);
}
#endif
