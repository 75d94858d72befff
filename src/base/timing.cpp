#include "base/timing.h"

#include "base/numbers.h"
#include "platform/environment.h"

void ApplyTimingFromEnvironment(TimingRecord& timing) {
  auto tick = platform::EnvironmentValue("ACSERVER_TICK_MS");
  if (!tick) return;
  auto ms = ParseInteger(*tick, NumberForm::DecimalOrHex);
  if (ms && *ms >= 1 && *ms <= 1000) timing.TickMs = *ms;
}
