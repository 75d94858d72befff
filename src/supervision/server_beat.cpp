#include "supervision/server_beat.h"

#include "base/limits.h"

TServerBeat BeatOf(const std::string& name, const TSupervisionReport& report, int64_t nowUnixSeconds) {
  TServerBeat beat;
  beat.Name = name;
  beat.Version = kVersionText;
  beat.Health = HealthName(report.Health);
  // Counted as the Overview's "N of M players protected": a player still
  // connecting counts among the unprotected until a run checks him.
  for (const TReportedPlayer& player : report.Players) {
    beat.Players += player.Kind == PlayerKind::Player || player.Kind == PlayerKind::Connecting ? 1 : 0;
    beat.Protected +=
        player.Kind == PlayerKind::Player && (player.By == Protection::Client || player.By == Protection::AllowList);
  }
  beat.LastRun = report.AtUnixSeconds;
  beat.SilentFor = report.AtUnixSeconds == 0 ? 0 : nowUnixSeconds - report.AtUnixSeconds;
  return beat;
}
