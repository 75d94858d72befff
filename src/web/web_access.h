// Who may use the web console: HTTP Basic with the configured password
// (user name "admin"), compared in constant time, and a lock-out of an address
// after five wrong passwords within a minute, for a minute.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// Whether a and b are equal, in a time that depends on their lengths only.
// Thread safe.
bool ConstantTimeEquals(const std::string& a, const std::string& b);

class TWebAccess {
 public:
  using Clock = std::chrono::steady_clock;
  // An empty password lets everyone in (the console then listens on loopback).
  explicit TWebAccess(const std::string& password);

  enum class Verdict { Allowed, WrongPassword, LockedOut };
  // Checks the Authorization header of a request from address. A wrong or
  // missing password counts against the address. A lock-out is written to the
  // console and the full log once, as it begins. Thread safe.
  Verdict Check(const std::string& address, const std::string& authorization, Clock::time_point now = Clock::now());

 private:
  std::string expected_;  // the whole Authorization value: "Basic " and base64 of admin:password
  struct TAddressRecord {
    std::vector<Clock::time_point> Failures;  // wrong passwords within the last minute
    Clock::time_point LockedUntil{};
  };
  // Guards addresses_.
  std::mutex lock_;
  std::map<std::string, TAddressRecord> addresses_;
};
