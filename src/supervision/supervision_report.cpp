#include "supervision/supervision_report.h"

#include <utility>

void TLastSupervisionReport::Publish(TSupervisionReport report) {
  TMutexLock guard(lock_);
  report_ = std::move(report);
}

TSupervisionReport TLastSupervisionReport::Get() const {
  TMutexLock guard(lock_);
  return report_;
}
