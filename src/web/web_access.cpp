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

struct TCredentials {
  std::string Name;
  std::string Password;
};

// The user name and password of a Basic Authorization value; nullopt when it
// holds none.
std::optional<TCredentials> CredentialsOf(const std::string& authorization) {
  if (authorization.rfind("Basic ", 0) != 0) return std::nullopt;
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
  if (colon == std::string::npos) return std::nullopt;
  return TCredentials{decoded.substr(0, colon), decoded.substr(colon + 1)};
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

void TWebAccess::Forget(Clock::time_point now) {
  const auto stale = [now](const TFailures& failures) {
    return !failures.empty() && now - failures.front() >= kWebFailureWindow;
  };
  for (auto* table : {&addresses_, &users_}) {
    for (auto it = table->begin(); it != table->end();) {
      while (stale(it->second)) it->second.pop_front();
      it = it->second.empty() ? table->erase(it) : std::next(it);
    }
  }
  swept_ = now;
}

TWebAccess::TResult TWebAccess::Check(const std::string& address, const std::string& authorization,
                                      const TLogin& login, Clock::time_point now) {
  const std::optional<TCredentials> credentials = CredentialsOf(authorization);
  const std::string name = credentials ? credentials->Name : std::string();
  {
    TMutexLock guard(lock_);
    // A sweep at most once a second keeps each check short under a flood.
    if (now - swept_ >= std::chrono::seconds(1)) Forget(now);
    const auto it = addresses_.find(address);
    const auto user = users_.find(name);
    const bool userGuessed = user != users_.end() && user->second.size() >= kWebFailuresForThrottle;
    if (it != addresses_.end() && !it->second.empty() && now - it->second.back() < kWebRetryDelay &&
        (it->second.size() >= kWebFailuresForThrottle || userGuessed)) {
      return {Verdict::Throttled, std::nullopt};
    }
  }
  // A browser asks without credentials first: that is no wrong password.
  if (!credentials) return {Verdict::WrongPassword, std::nullopt};
  // The password's check is slow on purpose (argon2id): made under no lock.
  std::optional<TWebUser> user = login(credentials->Name, credentials->Password);
  TMutexLock guard(lock_);
  if (user) {
    addresses_.erase(address);
    return {Verdict::Allowed, std::move(user)};
  }
  TFailures& failures = addresses_[address];
  failures.push_back(now);
  if (failures.size() > kWebMaxFailuresKept) failures.pop_front();
  const bool addressThrottled = failures.size() == kWebFailuresForThrottle;
  bool userThrottled = false;
  // Names guessed at are remembered up to a bound, so that a flood of names
  // cannot grow the table; each address is counted all the same.
  if (users_.size() < kWebMaxUsersKept || users_.count(name) != 0) {
    TFailures& guesses = users_[name];
    guesses.push_back(now);
    if (guesses.size() > kWebMaxFailuresKept) guesses.pop_front();
    userThrottled = guesses.size() == kWebFailuresForThrottle;
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
    WriteEvent("Web console: " + count + " wrong passwords for user " + LogField(name) +
               " within a minute; every address with a wrong password gets one attempt per " + delay + " s");
  }
  return {Verdict::WrongPassword, std::nullopt};
}
