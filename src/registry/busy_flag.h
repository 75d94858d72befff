// BusyFlag: lets one command handler, or the supervision cycle, work on the
// tables at a time. A waiting thread sleeps on a condition variable.
#pragma once

// Waits until the flag is clear and sets it, as one step. Thread safe.
void AcquireBusy();
// Clears the flag and wakes one waiter. Thread safe.
void ReleaseBusy();
bool IsBusy();

// Holds BusyFlag for a scope; Release() lets it go early.
class TBusyGuard {
 public:
  TBusyGuard() { AcquireBusy(); }
  ~TBusyGuard() { Release(); }
  TBusyGuard(const TBusyGuard&) = delete;
  TBusyGuard& operator=(const TBusyGuard&) = delete;
  void Release() {
    if (held_) {
      held_ = false;
      ReleaseBusy();
    }
  }

 private:
  bool held_ = true;
};
