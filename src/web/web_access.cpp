#include "web/web_access.h"

#include <httplib.h>

#include <algorithm>

#include "base/limits.h"
#include "log/logs.h"

bool ConstantTimeEquals(const std::string& a, const std::string& b) {
  unsigned char differ = a.size() == b.size() ? 0 : 1;
  const std::string& longer = a.size() >= b.size() ? a : b;
  for (size_t i = 0; i < longer.size(); ++i) {
    const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
    const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
    differ |= static_cast<unsigned char>(x ^ y);
  }
  return differ == 0;
}

TWebAccess::TWebAccess(const std::string& password) {
  if (!password.empty()) expected_ = httplib::make_basic_authentication_header("admin", password).second;
}

TWebAccess::Verdict TWebAccess::Check(const std::string& address, const std::string& authorization,
                                      Clock::time_point now) {
  std::unique_lock<std::mutex> guard(lock_);
  TAddressRecord& record = addresses_[address];
  if (now < record.LockedUntil) return Verdict::LockedOut;
  std::vector<Clock::time_point>& failures = record.Failures;
  failures.erase(std::remove_if(failures.begin(), failures.end(),
                                [now](Clock::time_point at) { return now - at >= kWebLockOut; }),
                 failures.end());
  if (expected_.empty() || ConstantTimeEquals(authorization, expected_)) {
    if (failures.empty()) addresses_.erase(address);
    return Verdict::Allowed;
  }
  // A browser asks without credentials first: that is no wrong password.
  if (authorization.empty()) return Verdict::WrongPassword;
  failures.push_back(now);
  if (failures.size() >= kWebFailuresForLockOut) {
    failures.clear();
    record.LockedUntil = now + kWebLockOut;
    // Said once, as the lock-out begins (fail2ban can act on it); written
    // after the lock is let go, so a slow disk holds up no other request.
    guard.unlock();
    WriteEvent("Web console: " + address + " locked out for " +
               std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kWebLockOut).count()) + " s after " +
               std::to_string(kWebFailuresForLockOut) + " wrong passwords");
    return Verdict::LockedOut;
  }
  return Verdict::WrongPassword;
}
