// acserver: the server half of the anti-cheat system. No options: everything
// comes from zelk_config.txt in the data directory.
#include "app/startup.h"
#include "base/timing.h"
#include "platform/clock_text.h"
#include "platform/stop_signal.h"

int main() {
  platform::InitClockTexts();
  platform::InstallStopHandlers();
  ApplyTimingFromEnvironment();
  return RunProgram();
}
