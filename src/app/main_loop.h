// The main loop: the only clock of the system.
#pragma once

#include "base/timing.h"

class TServer;

// The loop's own counters.
struct LoopCounters {
  int Supervision = 29;    // ticks since the last supervision run
  int Advertisement = 0;   // ticks since the last advertisement
  bool MaintenanceToggle = false;
};

// What one pass does.
struct PassPlan {
  bool Advertise = false;
  bool Supervise = false;
  bool Maintain = false;
};

// Advances the counters by one pass and says what the pass runs: the
// advertisement (and the conditional registry reset) every 501 passes, the
// supervision in pass 1 and every 30 passes, the ban-base maintenance with
// every second supervision starting with the first.
PassPlan NextPass(const TimingRecord& timing, LoopCounters& counters);

// Runs passes until a stop is asked for: each pass does its work, then waits
// one tick. Main thread only.
void RunMainLoop(TServer& server);
