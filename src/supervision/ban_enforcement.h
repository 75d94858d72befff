// Carrying out a ban that a client reported.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/mutex.h"
#include "base/settings.h"
#include "bans/ban_base.h"
#include "bans/ban_record.h"
#include "bans/ban_store.h"
#include "rcon/chat.h"
#include "rcon/rcon_client.h"
#include "supervision/supervise.h"
#include "registry/tables.h"

// Who orders a ban, for its record: a client's report (the reporting client
// is then the banned one, the only client allowed to report its player), or
// an admin on the web console.
struct TBanOrder {
  BanOrigin Origin = BanOrigin::Report;
  std::string ByName;     // the admin (Web); the reporting client's name is taken from the table
  std::string ByAddress;  // where the order came from
};

// What is left of a ban once the tables have taken it: the two remote-console
// commands (empty when the player is not on the game server), then the
// full-log line and the ban record.
struct TBanKick {
  std::string KickCommand;
  std::string ChatText;  // said in red through TChat::Say
  TBanRecord Record;     // its evidence is found when the kick is sent
  int32_t Minutes = 0;
};

// Finds the screenshots of a client (address, identifier) from the minutes
// before a moment: the evidence of its ban, as paths under the screenshot root.
using TEvidenceFinder =
    std::function<std::vector<std::string>(const std::string& address, const std::string& identifier, int64_t at)>;

// Carries out bans, and keeps the bans in flight. The server object owns it.
class TBanEnforcement {
 public:
  // Everything it uses must outlive it.
  TBanEnforcement(const SettingsRecord& settings, TRconClient& rcon, TChat& chat, TBanStoreInUse& bans,
                  TSupervision& supervision)
      : settings_(settings), rcon_(rcon), chat_(chat), bans_(bans), supervision_(supervision) {}
  TBanEnforcement(const TBanEnforcement&) = delete;
  TBanEnforcement& operator=(const TBanEnforcement&) = delete;

  // The ban's part on the tables: removes the named client, tells the
  // supervision that the ban kicks the player, and holds the identifier as a
  // ban in flight (BanInFlight) until SendBanKick has written its record.
  // nullopt, with nothing changed, when no client has the name (a full-log
  // line) or its player was not on the game server's last list.
  std::optional<TBanKick> TakeBan(const TBusyGuard& busy, const std::string& name, const std::string& address,
                                  const std::string& reason, int32_t minutes, const TBanOrder& order = {})
      REQUIRES(busy.Flag());
  // A ban by hand (the web console): when a client has the identifier and
  // its player is on the game server, as TakeBan; otherwise the ban without
  // a kick, held in flight all the same. Never nullopt.
  TBanKick TakeBanOfIdentifier(const TBusyGuard& busy, const std::string& identifier, const std::string& name,
                               const std::string& reason, int32_t minutes, const TBanOrder& order)
      REQUIRES(busy.Flag());
  // Where the evidence of a ban is found; none until set. Main thread, before
  // any ban.
  void SetEvidenceFinder(TEvidenceFinder finder) { findEvidence_ = std::move(finder); }
  // Told of every ban carried out, with its record as written, at the end of
  // SendBanKick (perhaps under BusyFlag: it must only copy, never wait). None
  // until set. Main thread, before any ban.
  void SetBanListener(std::function<void(const TBanRecord&)> listener) { banListener_ = std::move(listener); }
  // Kicks the player and announces the ban in the game chat (when the ban
  // has a kick), then writes the full log and the ban with its record and
  // evidence, and only then lets the ban in flight go. Meant to run without
  // BusyFlag: the exchanges take a round trip each, a silent game server a
  // second. The record as written (with its evidence).
  TBanRecord SendBanKick(const TBanKick& kick);
  // Whether a ban of this identifier is taken but its record not yet written;
  // its minutes ("p": for ever) in duration. Thread safe.
  bool BanInFlight(const std::string& identifier, std::string* duration);
  // At connect: a ban in flight first, then the ban base in use (an
  // identifier that is no longer in flight has its record written, so the
  // base then has it). Thread safe.
  BanLookup Lookup(const std::string& identifier, std::string* duration);
  // The same for many identifiers (the banned ones with their duration in
  // banned), with one look-up of the base in use for those not in flight.
  BanLookup LookupAll(const std::set<std::string>& identifiers, std::map<std::string, std::string>& banned);
  // A connect refused for a ban: the supervision kicks that player for the
  // ban if he is still playing.
  void NoteRefusal(const TBusyGuard& busy, const std::string& name, const std::string& address,
                   const std::string& identifier) REQUIRES(busy.Flag());

 private:
  const SettingsRecord& settings_;
  TRconClient& rcon_;
  TChat& chat_;
  TBanStoreInUse& bans_;
  TSupervision& supervision_;
  TEvidenceFinder findEvidence_;
  std::function<void(const TBanRecord&)> banListener_;
  // Guards bansInFlight_: the identifiers (with their minutes) of the bans
  // taken whose records are not yet written. Held only to look the list up or
  // change it, never while waiting for anything, so it nests under BusyFlag
  // safely.
  TMutex inFlightLock_;
  std::vector<std::pair<std::string, int32_t>> bansInFlight_ GUARDED_BY(inFlightLock_);
};
