#include "game/supervision_report.h"

#include <utility>

#include "base/mutex.h"

namespace {

// Guards lastReport.
TMutex reportLock;
TSupervisionReport lastReport GUARDED_BY(reportLock);

}  // namespace

void PublishSupervisionReport(TSupervisionReport report) {
  TMutexLock guard(reportLock);
  lastReport = std::move(report);
}

TSupervisionReport LastSupervisionReport() {
  TMutexLock guard(reportLock);
  return lastReport;
}
