// The main loop. Each pass, in order:
//   1. both counters advance by one;
//   2. every 501 passes: the advertisement in the game chat, then, when no
//      client is registered, both tables are reset (under BusyFlag, so that a
//      client connecting at that moment is not lost);
//   3. in pass 1 and every 30 passes: a supervision run, followed by the
//      ban-base maintenance with every second run (the first included);
//   4. the line of each address whose minute of error lines ended with some
//      left out (log/logs.h), so the count comes within a tick;
//   5. a wait of one tick (1000 ms; never less than 1 ms, however short the
//      tick is set), cut short by a stop request.
// A tick is the wait plus the pass's work; there is no drift correction.
#include "app/main_loop.h"

#include "app/server.h"
#include "log/logs.h"
#include "platform/stop_signal.h"
#include "registry/tables.h"

PassPlan NextPass(const TimingRecord& timing, LoopCounters& counters) {
  PassPlan plan;
  ++counters.Supervision;
  ++counters.Advertisement;
  if (counters.Advertisement > timing.AdvertEveryTicks - 1) {
    counters.Advertisement = 0;
    plan.Advertise = true;
  }
  if (counters.Supervision > timing.SupervisionEveryTicks - 1) {
    counters.Supervision = 0;
    plan.Supervise = true;
    counters.MaintenanceToggle = !counters.MaintenanceToggle;
    plan.Maintain = counters.MaintenanceToggle;
  }
  return plan;
}

void RunMainLoop(TServer& server) {
  const TimingRecord& timing = server.State.Timing;
  LoopCounters counters;
  counters.Supervision = timing.SupervisionEveryTicks - 1;
  while (!platform::StopRequested()) {
    const PassPlan plan = NextPass(timing, counters);
    if (plan.Advertise) {
      server.Advertise();
      TBusyGuard busy(server.State.Tables);
      if (busy.ClientCount() == 0) {
        ResetClients(busy);
        ResetPlayers(busy);
      }
    }
    if (plan.Supervise && !platform::StopRequested()) {
      server.Supervise();
      if (plan.Maintain) server.MaintainBanBase();
    }
    FlushErrorLineLimit();
    if (platform::WaitForStop(timing.TickMs)) break;
  }
}
