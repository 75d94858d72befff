// The ban base shared by many servers: a PostgreSQL database. Bans end by
// time (an end time, or none for a ban for ever), so any number of servers
// can share them without counting them down.
//
// A database that is down or slow never stops this server from protecting its
// players and never loses a ban:
//   - a connect is answered from a local copy of the bans in force, kept in
//     memory and refreshed by a worker thread at least every 30 seconds, with
//     every supervision run, and at once after each ban of our own;
//   - a ban of our own goes first into the local copy and into a journal file
//     beside the program (zelk_bans_journal.txt, written as one step), then
//     the worker writes it to the database; a ban made while the database is
//     unreachable stays in the journal, across restarts, until it is written.
//     Each ban carries an id of its own, so writing it twice never doubles it;
//   - the console and the full log say when the database is lost and back;
//   - a lift that answered holds: it waits for an insert of the same
//     identifier that the worker has under way, so the insert cannot land
//     after the delete, and a copy the worker read before the delete does not
//     bring the identifier back.
//
// Every ban is also a record, and nothing is deleted: a ban that ends (lifted,
// or run out) moves from acserver_bans into acserver_ban_history with how it
// ended, so every server of a community sees every record. The record columns
// are added to a base of schema 1 without raising its version (servers are
// upgraded one by one, and a server refuses a base whose schema is newer than
// its own); an older server keeps working on such a base, and what it deletes
// still reaches the history (see the .cpp, EnsureRecords). Tables that no
// older server reads are added the same way: every server's heartbeat, for a
// view of the whole community (Beat, Servers), the web console's accounts
// (bans/shared/postgres_accounts.h) and the appeals against bans
// (bans/shared/postgres_appeals.h).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/mutex.h"
#include "bans/ban_record.h"
#include "bans/ban_store.h"
#include "bans/shared/pg_connection.h"
#include "bans/shared/pg_kept_connection.h"
#include "bans/server_beat_record.h"

// The URI for the console: whatever stands before "@" (a user, a password
// someone put there) is not shown.
std::string ShownBanBase(const std::string& uri);

class TPostgresBanStore : public TBanStore, public TBanRecords {
 public:
  // Reads the journal and starts the worker, which connects on its own: the
  // start-up never waits for the database. Main thread.
  TPostgresBanStore(std::string uri, std::string serverName, std::string journalPath);
  ~TPostgresBanStore() override;
  TPostgresBanStore(const TPostgresBanStore&) = delete;
  TPostgresBanStore& operator=(const TPostgresBanStore&) = delete;

  BanLookup Lookup(const std::string& identifier, std::string* left) override;
  // Keeps a ban with its record. MadeAt 0 is now; an empty Server is this
  // server; the reason is cut to 64 bytes; Id and the end fields are ignored
  // (the base numbers the record when it writes it). Always true: the ban is
  // enforced at once and waits in the journal until the base has it. Thread safe.
  bool Record(const TBanRecord& ban) override;
  void Refresh() override;
  // Asks the worker to end the bans that ran out: they move to the history as
  // Expired, at their end time.
  void Maintain() override;
  // A lift without details: Lift(identifier, {}).
  LiftResult Lift(const std::string& identifier);
  // Ends every ban of the identifier and records who lifted it, from where and
  // why: the rows move to the history as Lifted, in one transaction. Bans of
  // it still in the journal are written and ended in that same transaction,
  // so their records are kept too. Thread safe.
  LiftResult Lift(const std::string& identifier, const TBanLift& lift) override;
  bool List(std::vector<TBanView>& bans, std::string* error) override;
  TBanRecords* Records() override { return this; }

  // The records, for the web console and tools. They run on a connection of
  // their own, one at a time, each statement cut off after 3 seconds, so a
  // slow base never holds a web request long and never delays the worker.
  // False (or nullopt) with the reason in error on failure. Thread safe.
  //
  // Bans in force and ended together, newest first (made, then record number).
  bool Search(const TBanQuery& query, TBanPage& page, std::string* error) override;
  // One record by its number; nullopt with error empty when there is none.
  std::optional<TBanRecord> Get(int64_t id, std::string* error) override;
  // Every record of the identifier, newest first.
  bool History(const std::string& identifier, std::vector<TBanRecord>& records, std::string* error) override;
  // How many records (in force and ended) each identifier has; every
  // identifier asked for is in counts, 0 when it has none.
  bool CountBans(const std::vector<std::string>& identifiers, std::map<std::string, int64_t>& counts,
                 std::string* error) override;
  // The evidence of the records this server made.
  bool EvidencePaths(std::set<std::string>& paths, std::string* error) override;

  // Hands this server's heartbeat to the worker, which writes it to
  // acserver_servers (by the beat's name, at the database's time) in its next
  // round; a beat still waiting is replaced. Never waits for the database:
  // while it is down or slow, beats are dropped. Thread safe.
  void Beat(const TServerBeat& beat);
  // Every server that wrote a heartbeat to the base, by name, SilentFor by
  // the database's clock. On the records' connection. Thread safe.
  bool Servers(std::vector<TServerBeat>& servers, std::string* error);

  // Stops the worker (a statement under way ends within its time-out). Main thread.
  void Stop();
  // Waits until the worker refreshed the local copy after this call and the
  // journal is empty; false after timeoutMs (tests). Thread safe.
  bool WaitSynced(int timeoutMs);

  struct TPendingBan {
    std::string BanId;
    std::string Identifier;
    int64_t EndsAt = 0;  // Unix seconds; 0: for ever
    int64_t MadeAt = 0;
    std::string MadeBy;  // the server that made it
    std::string Name;
    std::string Address;
    std::string Reason;
    BanOrigin Origin = BanOrigin::Report;
    std::string ByName;
    std::string ByIdentifier;
    std::string ByAddress;
    std::vector<std::string> Evidence;
  };

 private:
  void Work();
  // One round of the worker: connect if needed, write the journal, drop run
  // out bans when asked, refresh the copy, write the heartbeat when one
  // waits. False when the database is not reachable (the worker then waits
  // and tries again).
  bool Round(uint64_t round, bool expire, const std::optional<TServerBeat>& beat);
  // Writes the heartbeat; a refusal (a role without the right) is said once
  // and costs nothing else. False when the connection broke.
  bool WriteBeat(const TServerBeat& beat);
  bool Connect();
  void NoteDown(const std::string& reason);
  // Rewrites the journal file from pending_. Caller holds lock_.
  void WriteJournal() REQUIRES(lock_);

  const std::string uri_;
  const std::string server_;
  const std::string journalPath_;

  // Guards everything below it but the worker's own connection.
  TMutex lock_;
  std::condition_variable changed_;
  std::map<std::string, int64_t> copy_ GUARDED_BY(lock_);  // identifier -> end (Unix seconds), 0 for ever
  std::vector<TPendingBan> pending_ GUARDED_BY(lock_);  // not yet in the database; also in the journal
  // The identifier of the ban the worker is inserting now: a lift of it waits
  // until the insert ended, then deletes.
  std::optional<std::string> writing_ GUARDED_BY(lock_);
  // Identifiers lifted since the worker's round began; its read of the bans
  // may predate the delete, so they are left out of the copy it installs.
  std::set<std::string> liftedSinceRead_ GUARDED_BY(lock_);
  bool refreshWanted_ GUARDED_BY(lock_) = true;
  bool expireWanted_ GUARDED_BY(lock_) = false;
  bool stopping_ GUARDED_BY(lock_) = false;
  std::optional<TServerBeat> beat_ GUARDED_BY(lock_);  // posted, not yet taken by the worker
  uint64_t roundsStarted_ GUARDED_BY(lock_) = 0;   // the worker's rounds, numbered from 1
  uint64_t refreshedRound_ GUARDED_BY(lock_) = 0;  // the last round that refreshed the local copy
  enum class Link { Unknown, Up, Down } link_ GUARDED_BY(lock_) = Link::Unknown;

  // The worker's connection and what the table held at its last refresh;
  // only the worker touches them.
  std::optional<TPgConnection> connection_;
  std::string fingerprint_;
  bool beatRefused_ = false;  // the last heartbeat was refused (said in the log)
  std::thread worker_;

  // The records' connection, apart from the worker's; the queries take
  // turns on it.
  TPgKeptConnection queryConnection_{uri_};
};

// A connection to the shared base with its tables in place (made, or
// migrated, when missing); every statement cut off after statementMs.
// nullopt with the reason.
std::optional<TPgConnection> OpenSharedBase(const std::string& uri, int statementMs, std::string* error);

// Moves the records of a ban file into the shared base: a timed ban ends its
// remaining minutes from now, a "p" ban never. Importing again adds nothing
// (each record keeps an id made from its identifier). Moved counts the new
// rows, Kept those already there; false with the reason on failure.
bool ImportBanFile(const std::string& uri, const std::string& serverName, const std::vector<std::string>& records,
                   int* moved, int* kept, std::string* error);
// Writes one ban straight into the shared base (the admin's tool); every
// server turns the identifier away from its next refresh on.
bool RecordSharedBan(const std::string& uri, const TBanRecord& ban, std::string* error);
// Lifts the bans of identifier in the shared base directly (the admin's tool),
// recording who, from where and why; the first form records none of them.
LiftResult LiftSharedBan(const std::string& uri, const std::string& identifier);
LiftResult LiftSharedBan(const std::string& uri, const std::string& identifier, const TBanLift& lift);
// The bans in force in the shared base directly (the admin's tool).
bool ListSharedBans(const std::string& uri, std::vector<TBanView>& bans, std::string* error);
// The records of the shared base directly (the admin's tool), as the store's
// Search, Get and History answer them.
bool SearchSharedBanRecords(const std::string& uri, const TBanQuery& query, TBanPage& page, std::string* error);
std::optional<TBanRecord> GetSharedBanRecord(const std::string& uri, int64_t id, std::string* error);
bool SharedBanHistory(const std::string& uri, const std::string& identifier, std::vector<TBanRecord>& records,
                      std::string* error);
