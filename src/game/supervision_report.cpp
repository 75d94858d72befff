#include "game/supervision_report.h"

#include <mutex>
#include <utility>

namespace {

// Guards lastReport.
std::mutex reportLock;
TSupervisionReport lastReport;

}  // namespace

void PublishSupervisionReport(TSupervisionReport report) {
  std::lock_guard<std::mutex> guard(reportLock);
  lastReport = std::move(report);
}

TSupervisionReport LastSupervisionReport() {
  std::lock_guard<std::mutex> guard(reportLock);
  return lastReport;
}
