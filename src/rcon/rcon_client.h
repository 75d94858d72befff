// The remote console client: one command to the game server over the rcon
// protocol's challenge-and-command exchange, the answer text back.
//
// TRconClient owns the link to the game server and the lock that guards it:
// nothing outside can send on the socket without the lock, so exchanges never
// overlap whichever thread asks (supervision and the advertisement on the main
// thread, bans on command threads).
//
// An exchange, as a real GoldSrc server answers it:
//   - datagrams already waiting on the socket are read and dropped, so nothing
//     of an earlier exchange is ever taken for this one;
//   - the challenge request; only "challenge rcon <digits>" from the game
//     server's address and port counts, within the wait (1000 ms). Without one
//     no command goes out: sent with a wrong challenge it would only draw a
//     reject;
//   - the command datagram, the password in double quotes (the game server
//     splits an unquoted word at blanks and at { } ( ) ' , : so such a password
//     would never match, and five misses get our address banned). A datagram
//     over 515 bytes is never sent: the game server drops it unexecuted;
//   - the answer: only datagrams from the game server that begin with four
//     0xFF bytes and "l" carry text, each up to its first NUL; split packets
//     (FE FF FF FF) are joined in index order first; a reject ("9") ends the
//     exchange as a failure; anything else is skipped and the wait goes on.
//     The first answer datagram is waited for up to 1000 ms. A real server
//     sends all datagrams of one answer back to back, so after a short one
//     (under 1000 text bytes, the last of its answer) only a short grace
//     (RconGraceMs) is waited for another, after a full one RconMoreMs, ten
//     times the longest gap measured on a real engine under load, so that an
//     answer whose last datagram happens to be full costs milliseconds, not a
//     second. At most 8 are joined.
//
// The client also keeps the game server's health as its answers show it, and
// says it on the console and in the full log whenever it changes, so that an
// admin can tell from the console whether players are being protected.
//
// A game server counts every exchange with a wrong password and, after a few,
// bans the sender's address for good (and with it every rcon tool on that
// host). So after kMaxRefusalsInARow refusals in a row the client sends
// nothing more until the process restarts: every exchange then ends Withheld,
// and the health stays "refuses our rcon password".
#pragma once

#include <memory>
#include <string>

#include "platform/mutex.h"
#include "base/settings.h"
#include "base/timing.h"
#include "rcon/rcon_link.h"

// How an exchange ended.
enum class RconOutcome {
  Answered,     // the command went out and answer text came back (perhaps empty)
  Refused,      // the game server answered "Bad rcon_password.": nothing was executed
  NoAnswer,     // the command went out and nothing came back
  NoChallenge,  // no challenge answer within the wait: nothing was sent
  Rejected,     // the game server rejected our challenge
  Banned,       // the game server has banned our address
  Failed,       // a name or socket error ("ERROR: CS server is not available.Code N")
  NotSent,      // the command was too long for one datagram
  Stopped,      // an orderly stop began before the command went out
  Withheld,     // not sent: the game server refused our password too often in a row
};

// What the game server's answers say about it, as the admin is told.
enum class RconHealth {
  Unknown,           // no exchange yet
  Answering,
  NotAnswering,      // silent, or unreachable
  RefusesPassword,   // "Bad rcon_password."
  RejectsChallenge,  // a reject datagram
  BannedUs,          // "You have been banned from this server."
};

// The health as the console and the web console say it.
std::string HealthName(RconHealth health);
// Why an exchange that did not end Answered failed, for a log line.
std::string RconOutcomeText(RconOutcome outcome);

// Refused exchanges in a row after which nothing more is sent. A real game
// server bans the address after about ten; three leave room for a typo in
// nothing but the password.
constexpr int kMaxRefusalsInARow = 3;

struct RconResult {
  RconOutcome Outcome = RconOutcome::Failed;
  std::string Text;  // the joined answer text when Answered
};

class TRconClient {
 public:
  // Talks to the game server the settings name, with the timing's waits;
  // both must outlive the client.
  TRconClient(const SettingsRecord& settings, const TimingRecord& timing) : settings_(settings), timing_(timing) {}
  TRconClient(const TRconClient&) = delete;
  TRconClient& operator=(const TRconClient&) = delete;

  // Opens the UDP link. False with the reason when no socket can be had; every
  // exchange then fails. Main thread, before other threads use the client.
  bool Open(std::string* error);
  // Puts another link in place (a scripted game server in tests). Thread safe.
  void UseLink(std::unique_ptr<TRconLink> link);
  // Closes the link after any exchange under way. Thread safe.
  void Close();

  // One exchange. Thread safe; blocks the caller for the exchange.
  RconResult Exchange(const std::string& command);
  // One exchange as its callers read it: the answer text (empty when the game
  // server printed nothing or sent nothing), or "sinw" after a failure
  // (no challenge, a reject, a ban of our address, a socket error). Thread safe.
  std::string Command(const std::string& command);
  // The game server's health after the last exchange. Thread safe.
  RconHealth Health();
  // True once the client stopped sending after repeated refusals. Thread safe.
  bool Withholding();

 private:
  // Says the new health on the console and in the full log when it changed.
  // Caller holds lock_.
  void NoteHealth(const RconResult& result) REQUIRES(lock_);

  // Counts a refusal, or ends a run of them; withholds from the third on.
  // Caller holds lock_.
  void NoteRefusals(const RconResult& result) REQUIRES(lock_);

  const SettingsRecord& settings_;
  const TimingRecord& timing_;
  // Guards link_ (one exchange at a time on the one socket), health_,
  // refusalsInARow_ and withholding_.
  TMutex lock_;
  std::unique_ptr<TRconLink> link_ GUARDED_BY(lock_);
  RconHealth health_ GUARDED_BY(lock_) = RconHealth::Unknown;
  int refusalsInARow_ GUARDED_BY(lock_) = 0;
  bool withholding_ GUARDED_BY(lock_) = false;
};
