// This server's heartbeat, made from the report of its last supervision run.
#pragma once

#include <cstdint>
#include <string>

#include "bans/server_beat_record.h"
#include "supervision/supervision_report.h"

// This server's beat after a run, from the run's report (SilentFor as of now).
TServerBeat BeatOf(const std::string& name, const TSupervisionReport& report, int64_t nowUnixSeconds);
