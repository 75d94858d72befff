// The program's start-up sequence and its end; the exit status of the process.
#pragma once

#include "base/timing.h"

// Banner, configuration, the server object, the settings listing, the tables
// reset, the main loop until a stop; then the orderly release. 0 after an
// orderly stop, 1 when the configuration is missing or threads did not end.
int RunProgram(const TimingRecord& timing);
