#include "web/web_sessions.h"

#include <algorithm>

#include "base/limits.h"
#include "platform/random_bytes.h"
#include "web/web_access.h"

std::string CookieValue(const std::string& header, const std::string& name) {
  size_t start = 0;
  while (start < header.size()) {
    size_t end = header.find(';', start);
    if (end == std::string::npos) end = header.size();
    size_t first = start;
    while (first < end && header[first] == ' ') ++first;
    const size_t equals = header.find('=', first);
    if (equals < end && header.compare(first, equals - first, name) == 0 && equals - first == name.size()) {
      return header.substr(equals + 1, end - equals - 1);
    }
    start = end + 1;
  }
  return std::string();
}

void TWebSessions::Forget(Clock::time_point now) {
  std::erase_if(sessions_, [now](const TSession& session) {
    return now - session.Used >= kWebSessionIdle || now - session.Opened >= kWebSessionLifetime;
  });
}

std::string TWebSessions::Open(const TWebUser& user, Clock::time_point now) {
  TSession session{platform::RandomHex(32), user, now, now};
  std::string token = session.Token;
  TMutexLock guard(lock_);
  Forget(now);
  if (sessions_.size() >= kWebMaxSessions) {
    sessions_.erase(std::min_element(sessions_.begin(), sessions_.end(),
                                     [](const TSession& a, const TSession& b) { return a.Used < b.Used; }));
  }
  sessions_.push_back(std::move(session));
  return token;
}

std::optional<TWebUser> TWebSessions::Use(const std::string& token, Clock::time_point now) {
  if (token.empty()) return std::nullopt;
  TMutexLock guard(lock_);
  Forget(now);
  TSession* found = nullptr;
  // Every token is compared, whichever matches, so the time tells nothing.
  for (TSession& session : sessions_) {
    if (ConstantTimeEquals(session.Token, token)) found = &session;
  }
  if (found == nullptr) return std::nullopt;
  found->Used = now;
  return found->User;
}

void TWebSessions::Close(const std::string& token) {
  TMutexLock guard(lock_);
  std::erase_if(sessions_, [&token](const TSession& session) { return ConstantTimeEquals(session.Token, token); });
}

std::string TWebSessions::CookieFor(const std::string& token, bool secure) {
  const auto lifetime = std::chrono::duration_cast<std::chrono::seconds>(kWebSessionLifetime).count();
  return std::string(kWebSessionCookie) + "=" + token + "; Path=/; Max-Age=" + std::to_string(lifetime) +
         "; HttpOnly; SameSite=Strict" + (secure ? "; Secure" : "");
}

std::string TWebSessions::ExpiredCookie(bool secure) {
  return std::string(kWebSessionCookie) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict" +
         (secure ? "; Secure" : "");
}
