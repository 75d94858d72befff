// Who may use the web console: HTTP Basic with an account's name and password
// (see web_users.h), and a throttle on guessing that can never keep the right
// password out for long:
//   - an address with kWebFailuresForThrottle wrong passwords within
//     kWebFailureWindow, or any address with a wrong password of its own while
//     the user name it tries has that many from all addresses together, gets
//     one attempt per kWebRetryDelay: within that delay of its last wrong
//     password it is answered "throttled" without its password being looked
//     at. After the delay its next attempt is judged, and the right password
//     is let in (and its address forgotten);
//   - an address that made no wrong password is never throttled, so a crowd of
//     guessers elsewhere cannot keep the admin out;
//   - wrong passwords older than the window are forgotten, and with them the
//     records, so the table cannot grow without bound.
// Each throttle is written once, as it begins, to the console and the full
// log (fail2ban can act on the line).
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/mutex.h"
#include "web/web_users.h"

// Whether a and b are equal, in a time that depends on their lengths only.
// Thread safe.
bool ConstantTimeEquals(const std::string& a, const std::string& b);
// The Authorization value of HTTP Basic for user and password.
std::string BasicAuthorization(const std::string& user, const std::string& password);

class TWebAccess {
 public:
  using Clock = std::chrono::steady_clock;
  // The user that a user name and password log in, or nullopt.
  using TLogin = std::function<std::optional<TWebUser>(const std::string& name, const std::string& password)>;

  enum class Verdict { Allowed, WrongPassword, Throttled };
  struct TResult {
    Verdict Outcome;
    std::optional<TWebUser> User;  // when allowed
  };
  // Checks the Authorization header of a request from address with login
  // (called under no lock). A wrong password counts against the address and
  // the user name it names. Thread safe.
  TResult Check(const std::string& address, const std::string& authorization, const TLogin& login,
                Clock::time_point now = Clock::now());

 private:
  using TFailures = std::deque<Clock::time_point>;  // oldest first
  // Drops the failures older than the window, and the empty records.
  // Caller holds lock_.
  void Forget(Clock::time_point now) REQUIRES(lock_);

  // Guards addresses_, users_ and the time of the last sweep.
  TMutex lock_;
  std::map<std::string, TFailures> addresses_ GUARDED_BY(lock_);
  std::map<std::string, TFailures> users_ GUARDED_BY(lock_);  // wrong passwords by user name, from every address
  Clock::time_point swept_ GUARDED_BY(lock_){};
};
