// Who may use the web console: HTTP Basic with the configured password (user
// name "admin"), compared in constant time, and a throttle on guessing that
// can never keep the right password out for long:
//   - an address with kWebFailuresForThrottle wrong passwords within
//     kWebFailureWindow, or any address with a wrong password of its own while
//     the user name "admin" has that many from all addresses together, gets
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
#include <map>
#include <string>

#include "platform/mutex.h"

// Whether a and b are equal, in a time that depends on their lengths only.
// Thread safe.
bool ConstantTimeEquals(const std::string& a, const std::string& b);
// The Authorization value of HTTP Basic for user and password.
std::string BasicAuthorization(const std::string& user, const std::string& password);

class TWebAccess {
 public:
  using Clock = std::chrono::steady_clock;
  // An empty password lets everyone in (the console then listens on loopback).
  explicit TWebAccess(const std::string& password);

  enum class Verdict { Allowed, WrongPassword, Throttled };
  // Checks the Authorization header of a request from address. A wrong
  // password counts against the address (and the user name it names). Thread
  // safe.
  Verdict Check(const std::string& address, const std::string& authorization, Clock::time_point now = Clock::now());

 private:
  using TFailures = std::deque<Clock::time_point>;  // oldest first
  // Drops the failures older than the window, and the empty records.
  // Caller holds lock_.
  void Forget(Clock::time_point now) REQUIRES(lock_);

  std::string expected_;  // the whole Authorization value: "Basic " and base64 of admin:password
  std::string expectedUser_;  // its user part's Authorization prefix, to tell guesses at "admin"
  // Guards addresses_, user_ and the time of the last sweep.
  TMutex lock_;
  std::map<std::string, TFailures> addresses_ GUARDED_BY(lock_);
  TFailures user_ GUARDED_BY(lock_);  // wrong passwords for "admin", from every address
  Clock::time_point swept_ GUARDED_BY(lock_){};
};
