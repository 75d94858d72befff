// The web console's sessions: after one login with a password, the browser
// holds a random token in a cookie (HttpOnly, SameSite=Strict, Path=/, and
// Secure over HTTPS), and a request that carries a live one is let in without
// the password and without the throttle, so that nobody's wrong passwords,
// even from the admin's own address, keep a logged-in admin out.
//
// A session ends kWebSessionIdle after its last use, kWebSessionLifetime after
// its login whatever its use, at a logout, or when kWebMaxSessions newer
// logins pushed it out (the least recently used goes first). Sessions live in
// memory only: a restart logs everyone out. Tokens are compared in constant
// time, one by one (the table is small), so a guesser learns nothing from the
// time of an answer.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/mutex.h"
#include "web/web_users.h"

// The cookie's name.
inline constexpr const char* kWebSessionCookie = "acserver_session";

// The value of the cookie named name in a Cookie header ("a=1; b=2"); empty
// when it is absent.
std::string CookieValue(const std::string& header, const std::string& name);

class TWebSessions {
 public:
  using Clock = std::chrono::steady_clock;

  // A new session of user: its token (64 hex digits from the system's random
  // source). Thread safe.
  std::string Open(const TWebUser& user, Clock::time_point now = Clock::now());
  // The user of the live session token names, which counts as used now;
  // nullopt when there is none. Thread safe.
  std::optional<TWebUser> Use(const std::string& token, Clock::time_point now = Clock::now());
  // Ends the session of token, if any. Thread safe.
  void Close(const std::string& token);
  // The Set-Cookie value that gives the browser token, and the one that
  // takes it away; secure (a console on HTTPS) adds Secure, so that the
  // browser never sends the token over plain HTTP.
  static std::string CookieFor(const std::string& token, bool secure = false);
  static std::string ExpiredCookie(bool secure = false);

 private:
  struct TSession {
    std::string Token;
    TWebUser User;
    Clock::time_point Opened;
    Clock::time_point Used;
  };
  // Drops the sessions that ended by time. Caller holds lock_.
  void Forget(Clock::time_point now) REQUIRES(lock_);

  // Guards sessions_.
  TMutex lock_;
  std::vector<TSession> sessions_ GUARDED_BY(lock_);  // at most kWebMaxSessions
};
