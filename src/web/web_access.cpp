#include "web/web_access.h"

#include <algorithm>

#include "base/limits.h"
#include "log/logs.h"

namespace {

constexpr const char* kBase64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
    out += kBase64[(group >> 18) & 63];
    out += kBase64[(group >> 12) & 63];
    out += i + 1 < bytes.size() ? kBase64[(group >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kBase64[group & 63] : '=';
  }
  return out;
}

// The user name of a Basic Authorization value; empty when it names none.
std::string UserOf(const std::string& authorization) {
  if (authorization.rfind("Basic ", 0) != 0) return std::string();
  std::string decoded;
  uint32_t group = 0;
  int bits = 0;
  for (size_t i = 6; i < authorization.size(); ++i) {
    const char* at = std::char_traits<char>::find(kBase64, 64, authorization[i]);
    if (at == nullptr) break;
    group = (group << 6) | static_cast<uint32_t>(at - kBase64);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      decoded += static_cast<char>((group >> bits) & 0xFF);
    }
  }
  const size_t colon = decoded.find(':');
  return colon == std::string::npos ? std::string() : decoded.substr(0, colon);
}

}  // namespace

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

std::string BasicAuthorization(const std::string& user, const std::string& password) {
  return "Basic " + Base64(user + ":" + password);
}

TWebAccess::TWebAccess(const std::string& password) {
  if (!password.empty()) expected_ = BasicAuthorization("admin", password);
}

void TWebAccess::Forget(Clock::time_point now) {
  const auto stale = [now](const TFailures& failures) {
    return !failures.empty() && now - failures.front() >= kWebFailureWindow;
  };
  while (stale(user_)) user_.pop_front();
  for (auto it = addresses_.begin(); it != addresses_.end();) {
    while (stale(it->second)) it->second.pop_front();
    it = it->second.empty() ? addresses_.erase(it) : std::next(it);
  }
  swept_ = now;
}

TWebAccess::Verdict TWebAccess::Check(const std::string& address, const std::string& authorization,
                                      Clock::time_point now) {
  if (expected_.empty()) return Verdict::Allowed;
  TMutexLock guard(lock_);
  // A sweep at most once a second keeps each check short under a flood.
  if (now - swept_ >= std::chrono::seconds(1)) Forget(now);
  auto it = addresses_.find(address);
  if (it != addresses_.end() && !it->second.empty() && now - it->second.back() < kWebRetryDelay &&
      (it->second.size() >= kWebFailuresForThrottle || user_.size() >= kWebFailuresForThrottle)) {
    return Verdict::Throttled;
  }
  if (ConstantTimeEquals(authorization, expected_)) {
    if (it != addresses_.end()) addresses_.erase(it);
    return Verdict::Allowed;
  }
  // A browser asks without credentials first: that is no wrong password.
  if (authorization.empty()) return Verdict::WrongPassword;
  TFailures& failures = addresses_[address];
  failures.push_back(now);
  if (failures.size() > kWebMaxFailuresKept) failures.pop_front();
  const bool addressThrottled = failures.size() == kWebFailuresForThrottle;
  bool userThrottled = false;
  if (UserOf(authorization) == "admin") {
    user_.push_back(now);
    if (user_.size() > kWebMaxFailuresKept) user_.pop_front();
    userThrottled = user_.size() == kWebFailuresForThrottle;
  }
  // Each throttle is said once, as it begins; written after the lock is let
  // go, so a slow disk holds up no other request.
  guard.Unlock();
  const std::string delay = std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kWebRetryDelay).count());
  const std::string count = std::to_string(kWebFailuresForThrottle);
  if (addressThrottled) {
    WriteEvent("Web console: " + address + " throttled after " + count +
               " wrong passwords: one attempt per " + delay + " s from there");
  }
  if (userThrottled) {
    WriteEvent("Web console: " + count + " wrong passwords for user admin within a minute; every address with a "
               "wrong password gets one attempt per " + delay + " s");
  }
  return Verdict::WrongPassword;
}
