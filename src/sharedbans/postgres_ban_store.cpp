#include "sharedbans/postgres_ban_store.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <set>

#include "base/limits.h"
#include "base/numbers.h"
#include "game/text_fields.h"
#include "log/logs.h"
#include "platform/clock_text.h"
#include "platform/console.h"
#include "platform/files.h"

namespace {

constexpr int kSchemaVersion = 1;
constexpr int64_t kSchemaLockKey = 7270011;  // serialises the schema's creation by servers starting together

// Creates the schema when it is missing, under a lock that servers starting
// together share; false when it cannot, or when it is newer than we know.
bool EnsureSchema(TPgConnection& db, std::string* error) {
  if (!db.Run("BEGIN", {}, error)) return false;
  const bool done = [&] {
    if (!db.Run("SELECT pg_advisory_xact_lock(" + std::to_string(kSchemaLockKey) + ")", {}, error)) return false;
    if (!db.Run("CREATE TABLE IF NOT EXISTS acserver_schema (version integer NOT NULL)", {}, error)) return false;
    const auto version = db.Run("SELECT max(version) FROM acserver_schema", {}, error);
    if (!version) return false;
    const std::optional<std::string>& found = (*version)[0][0];
    if (found && ParseInteger(*found).value_or(kSchemaVersion + 1) > kSchemaVersion) {
      if (error) *error = "the shared ban base has schema version " + *found + ", newer than this server's";
      return false;
    }
    if (found) return true;
    return db.Run("CREATE TABLE IF NOT EXISTS acserver_bans ("
                  "ban_id text PRIMARY KEY, identifier text NOT NULL, ends_at timestamptz, "
                  "made_at timestamptz NOT NULL, made_by text NOT NULL, player_name text NOT NULL, "
                  "player_address text NOT NULL, reason text NOT NULL)",
                  {}, error) &&
           db.Run("CREATE INDEX IF NOT EXISTS acserver_bans_identifier ON acserver_bans (identifier)", {}, error) &&
           db.Run("INSERT INTO acserver_schema (version) VALUES ($1)", {std::to_string(kSchemaVersion)}, error);
  }();
  std::string ignored;
  if (!done) {
    db.Run("ROLLBACK", {}, &ignored);
    return false;
  }
  return db.Run("COMMIT", {}, error).has_value();
}

bool InsertBan(TPgConnection& db, const TPostgresBanStore::TPendingBan& ban, std::string* error) {
  const std::optional<std::string> ends =
      ban.EndsAt == 0 ? std::nullopt : std::optional<std::string>(std::to_string(ban.EndsAt));
  return db
      .Run("INSERT INTO acserver_bans (ban_id, identifier, ends_at, made_at, made_by, player_name, "
           "player_address, reason) VALUES ($1, $2, to_timestamp($3::bigint), to_timestamp($4::bigint), $5, $6, $7, "
           "$8) ON CONFLICT (ban_id) DO NOTHING",
           {ban.BanId, ban.Identifier, ends, std::to_string(ban.MadeAt), ban.MadeBy, ban.Name, ban.Address, ban.Reason},
           error)
      .has_value();
}

// Deletes every ban of identifier and adds the ids of the rows it deleted to
// ids; false with the reason when it could not.
bool DeleteBans(TPgConnection& db, const std::string& identifier, std::set<std::string>& ids, std::string* error) {
  const auto rows = db.Run("DELETE FROM acserver_bans WHERE identifier = $1 RETURNING ban_id", {identifier}, error);
  if (!rows) return false;
  for (const auto& row : *rows) ids.insert(row[0].value_or(""));
  return true;
}

// The bans in force: identifier and end (0 for ever); a ban for ever wins.
std::optional<std::map<std::string, int64_t>> BansInForce(TPgConnection& db, std::string* error) {
  const auto rows = db.Run(
      "SELECT identifier, COALESCE(extract(epoch FROM max(ends_at))::bigint, 0), bool_or(ends_at IS NULL) "
      "FROM acserver_bans WHERE ends_at IS NULL OR ends_at > now() GROUP BY identifier",
      {}, error);
  if (!rows) return std::nullopt;
  std::map<std::string, int64_t> bans;
  for (const auto& row : *rows) bans[*row[0]] = *row[2] == "t" ? 0 : ParseInteger64(*row[1]).value_or(0);
  return bans;
}

// What the bans table holds, in one short answer: the count of its rows and
// a sum of their ids' hashes. When it is the same as at the last refresh,
// nothing was added or lifted, and the copy needs no new rows (bans that ran
// out meanwhile are ignored by the copy itself).
std::optional<std::string> Fingerprint(TPgConnection& db, std::string* error) {
  const auto rows = db.Run("SELECT count(*) || ':' || coalesce(sum(hashtext(ban_id)::bigint), 0) FROM acserver_bans",
                           {}, error);
  if (!rows) return std::nullopt;
  return (*rows)[0][0].value_or("");
}

std::optional<TPgConnection> OpenDatabase(const std::string& uri, std::string* error) {
  std::optional<TPgConnection> db = TPgConnection::Open(uri, kBanBaseConnectSeconds, kBanBaseStatementMs, error);
  if (db && !EnsureSchema(*db, error)) return std::nullopt;
  return db;
}

// Journal lines: the fields of a pending ban separated by tabs, with tab, line
// feed, carriage return and backslash written as \t \n \r \\.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

std::vector<std::string> Unescaped(const std::string& line) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\t') {
      fields.emplace_back();
    } else if (line[i] == '\\' && i + 1 < line.size()) {
      const char next = line[++i];
      fields.back() += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    } else {
      fields.back() += line[i];
    }
  }
  return fields;
}

int64_t MinutesLeft(int64_t endsAt, int64_t now) { return (endsAt - now + 59) / 60; }

// Adds a ban's end to the copy: a ban for ever (0) wins, else the later end.
void MergeEnd(std::map<std::string, int64_t>& copy, const std::string& identifier, int64_t endsAt) {
  auto [entry, fresh] = copy.emplace(identifier, endsAt);
  if (!fresh && entry->second != 0 && (endsAt == 0 || endsAt > entry->second)) entry->second = endsAt;
}

}  // namespace

std::string ShownBanBase(const std::string& uri) {
  const size_t at = uri.rfind('@');
  const size_t scheme = uri.find("://");
  if (at == std::string::npos || scheme == std::string::npos) return uri;
  return uri.substr(0, scheme + 3) + "...@" + uri.substr(at + 1);
}

TPostgresBanStore::TPostgresBanStore(std::string uri, std::string serverName, std::string journalPath)
    : uri_(std::move(uri)), server_(std::move(serverName)), journalPath_(std::move(journalPath)) {
  std::vector<std::string> lines;
  if (platform::FileExists(journalPath_) && platform::ReadTextLines(journalPath_, lines)) {
    for (const std::string& line : lines) {
      const std::vector<std::string> f = Unescaped(line);
      const std::optional<int64_t> ends = f.size() == 8 ? ParseInteger64(f[2]) : std::nullopt;
      const std::optional<int64_t> made = f.size() == 8 ? ParseInteger64(f[3]) : std::nullopt;
      if (!ends || !made) continue;
      pending_.push_back({f[0], f[1], *ends, *made, f[4], f[5], f[6], f[7]});
      MergeEnd(copy_, f[1], *ends);
    }
    if (!pending_.empty()) {
      WriteEvent("Shared ban base: " + std::to_string(pending_.size()) + " bans made while it was unreachable wait in " +
                 journalPath_);
    }
  }
  worker_ = std::thread([this] { Work(); });
}

TPostgresBanStore::~TPostgresBanStore() { Stop(); }

void TPostgresBanStore::Stop() {
  {
    TMutexLock guard(lock_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
}

BanLookup TPostgresBanStore::Lookup(const std::string& identifier, std::string* left) {
  const int64_t now = platform::UnixSeconds();
  TMutexLock guard(lock_);
  const auto found = copy_.find(identifier);
  if (found == copy_.end() || (found->second != 0 && found->second <= now)) return BanLookup::NotBanned;
  if (left) *left = found->second == 0 ? "p" : std::to_string(MinutesLeft(found->second, now));
  return BanLookup::Banned;
}

bool TPostgresBanStore::Record(const TBanFacts& ban) {
  const int64_t now = platform::UnixSeconds();
  TPendingBan pending{server_ + "-" + std::to_string(now) + "-" + std::to_string(std::random_device{}()),
                      ban.Identifier,
                      ban.Minutes == 0 ? 0 : now + int64_t{ban.Minutes} * 60,
                      now,
                      server_,
                      ban.Name,
                      ban.Address,
                      ban.Reason};
  {
    TMutexLock guard(lock_);
    MergeEnd(copy_, ban.Identifier, pending.EndsAt);
    liftedSinceRead_.erase(ban.Identifier);  // a ban made after a lift is in force
    pending_.push_back(std::move(pending));
    WriteJournal();
    refreshWanted_ = true;
  }
  changed_.notify_all();
  return true;
}

void TPostgresBanStore::Refresh() {
  {
    TMutexLock guard(lock_);
    refreshWanted_ = true;
  }
  changed_.notify_all();
}

void TPostgresBanStore::Maintain() {
  {
    TMutexLock guard(lock_);
    expireWanted_ = true;
  }
  changed_.notify_all();
}

LiftResult TPostgresBanStore::Lift(const std::string& identifier) {
  std::set<std::string> removed;  // the ids of the bans lifted, from the journal and the database
  {
    TMutexLock lock(lock_);
    // An insert under way would land after the delete below and bring the ban
    // back; its statement's time-out bounds the wait.
    if (!changed_.wait_for(lock.Native(), std::chrono::milliseconds(kBanBaseLiftWaitMs),
                           [&]() REQUIRES(lock_) { return writing_ != identifier; })) {
      return {0, "the shared ban base is still writing a ban of " + identifier + "; lift it again"};
    }
    // Gone from pending_, no later round writes them.
    const size_t before = pending_.size();
    std::erase_if(pending_, [&](const TPendingBan& ban) {
      if (ban.Identifier != identifier) return false;
      removed.insert(ban.BanId);
      return true;
    });
    if (pending_.size() != before) WriteJournal();
  }
  LiftResult result;
  std::optional<TPgConnection> db = OpenDatabase(uri_, &result.Error);
  if (db) DeleteBans(*db, identifier, removed, &result.Error);
  result.Removed = static_cast<int>(removed.size());
  if (result.Removed > 0) result.Error.clear();
  if (result.Error.empty()) {
    TMutexLock guard(lock_);
    copy_.erase(identifier);
    liftedSinceRead_.insert(identifier);
  }
  return result;
}

bool TPostgresBanStore::List(std::vector<TBanView>& bans, std::string*) {
  const int64_t now = platform::UnixSeconds();
  bans.clear();
  TMutexLock guard(lock_);
  for (const auto& [identifier, end] : copy_) {
    if (end != 0 && end <= now) continue;
    bans.push_back({identifier, end == 0, end == 0 ? 0 : MinutesLeft(end, now)});
  }
  return true;
}

bool TPostgresBanStore::WaitSynced(int timeoutMs) {
  TMutexLock lock(lock_);
  const uint64_t next = roundsStarted_ + 1;  // the first round that starts after this call
  refreshWanted_ = true;
  changed_.notify_all();
  return changed_.wait_for(lock.Native(), std::chrono::milliseconds(timeoutMs),
                           [&]() REQUIRES(lock_) { return refreshedRound_ >= next && pending_.empty(); });
}

void TPostgresBanStore::WriteJournal() {
  std::string text;
  for (const TPendingBan& ban : pending_) {
    text += Escaped(ban.BanId) + "\t" + Escaped(ban.Identifier) + "\t" + std::to_string(ban.EndsAt) + "\t" +
            std::to_string(ban.MadeAt) + "\t" + Escaped(ban.MadeBy) + "\t" + Escaped(ban.Name) + "\t" + Escaped(ban.Address) + "\t" +
            Escaped(ban.Reason) + "\r\n";
  }
  std::string error;
  if (!platform::ReplaceFileAtomically(journalPath_, text, &error)) {
    WriteEvent("ERROR: cannot write the ban journal (" + error + "); " + std::to_string(pending_.size()) +
               " bans are kept in memory until the shared ban base takes them");
  }
}

void TPostgresBanStore::NoteDown(const std::string& reason) {
  connection_.reset();
  fingerprint_.clear();
  size_t known = 0;
  {
    TMutexLock guard(lock_);
    if (link_ == Link::Down) return;
    link_ = Link::Down;
    known = copy_.size();
  }
  WriteEvent("Shared ban base lost (" + reason + "): connects are checked against the last copy (" +
             std::to_string(known) + " bans); new bans wait in " + journalPath_);
}

bool TPostgresBanStore::Connect() {
  if (connection_ && connection_->Healthy()) return true;
  std::string error;
  connection_ = OpenDatabase(uri_, &error);
  if (!connection_) {
    NoteDown(error);
    return false;
  }
  return true;
}

bool TPostgresBanStore::Round(uint64_t round, bool expire) {
  if (!Connect()) return false;
  std::string error;
  std::vector<std::string> ids;  // the bans waiting when the round began; later ones wait for the next
  {
    TMutexLock guard(lock_);
    for (const TPendingBan& ban : pending_) ids.push_back(ban.BanId);
    liftedSinceRead_.clear();
  }
  // One ban at a time, marked as under way, so that a lift of its identifier
  // waits for this insert only, and a ban lifted meanwhile is not written.
  size_t written = 0;
  for (const std::string& id : ids) {
    TPendingBan ban;
    {
      TMutexLock guard(lock_);
      const auto found = std::find_if(pending_.begin(), pending_.end(), [&](const TPendingBan& p) { return p.BanId == id; });
      if (found == pending_.end()) continue;
      ban = *found;
      writing_ = ban.Identifier;
    }
    const bool inserted = InsertBan(*connection_, ban, &error);
    {
      TMutexLock guard(lock_);
      writing_.reset();
      if (inserted) {
        std::erase_if(pending_, [&](const TPendingBan& p) { return p.BanId == id; });
        ++written;
      }
      if (!inserted && written > 0) WriteJournal();
    }
    changed_.notify_all();
    if (!inserted) {
      NoteDown(error);
      return false;
    }
  }
  if (written > 0) {
    TMutexLock guard(lock_);
    WriteJournal();
  }
  if (expire && !connection_->Run("DELETE FROM acserver_bans WHERE ends_at <= now()", {}, &error)) {
    NoteDown(error);
    return false;
  }
  const std::optional<std::string> fingerprint = Fingerprint(*connection_, &error);
  if (!fingerprint) {
    NoteDown(error);
    return false;
  }
  std::optional<std::map<std::string, int64_t>> bans;
  if (*fingerprint != fingerprint_) {
    bans = BansInForce(*connection_, &error);
    if (!bans) {
      NoteDown(error);
      return false;
    }
    fingerprint_ = *fingerprint;
  }
  Link was;
  {
    TMutexLock guard(lock_);
    if (bans) {
      // A lift that answered during the round may have deleted after the read.
      for (const std::string& identifier : liftedSinceRead_) bans->erase(identifier);
      if (!liftedSinceRead_.empty()) fingerprint_.clear();  // the next round reads the table again
      // Bans made while this round ran are not in the database yet: they stay.
      for (const TPendingBan& ban : pending_) MergeEnd(*bans, ban.Identifier, ban.EndsAt);
      copy_ = std::move(*bans);
    }
    was = link_;
    link_ = Link::Up;
  }
  if (was == Link::Unknown) WriteEvent("Shared ban base: connected to " + ShownBanBase(uri_));
  if (was == Link::Down) WriteEvent("Shared ban base back: " + ShownBanBase(uri_));
  if (written > 0 && was != Link::Up) {
    WriteEvent("Shared ban base: " + std::to_string(written) + " bans made while it was unreachable are written to it");
  }
  // Waiters learn of the round once everything it says is said.
  {
    TMutexLock guard(lock_);
    refreshedRound_ = round;
  }
  changed_.notify_all();
  return true;
}

void TPostgresBanStore::Work() {
  auto nextRefresh = std::chrono::steady_clock::now();
  TMutexLock lock(lock_);
  while (!stopping_) {
    const bool expire = expireWanted_;
    const uint64_t round = ++roundsStarted_;
    refreshWanted_ = false;
    expireWanted_ = false;
    lock.Unlock();
    const bool reached = Round(round, expire);
    lock.Lock();
    if (!reached && expire) expireWanted_ = true;
    const auto wait = std::chrono::milliseconds(reached ? kBanBaseRefreshMs : kBanBaseRetryMs);
    nextRefresh = std::chrono::steady_clock::now() + wait;
    // Wakes for a stop, a ban of our own, or a refresh asked for; a database
    // that is down is tried again only after the retry wait.
    changed_.wait_until(lock.Native(), nextRefresh, [&]() REQUIRES(lock_) {
      return stopping_ || (reached && (refreshWanted_ || expireWanted_ || !pending_.empty()));
    });
  }
}

bool ImportBanFile(const std::string& uri, const std::string& serverName, const std::vector<std::string>& records,
                   int* moved, int* kept, std::string* error) {
  *moved = *kept = 0;
  std::optional<TPgConnection> db = OpenDatabase(uri, error);
  if (!db) return false;
  const int64_t now = platform::UnixSeconds();
  for (const std::string& record : records) {
    const std::string duration = ExtractQuoted(record, 1);
    const std::optional<int32_t> minutes = ParseInteger(duration);
    if (duration != "p" && (!minutes || *minutes <= 0)) continue;  // no record, or run out already
    const TPostgresBanStore::TPendingBan ban{"import:" + ExtractQuoted(record, 2),
                                             ExtractQuoted(record, 2),
                                             duration == "p" ? 0 : now + int64_t{*minutes} * 60,
                                             now,
                                             serverName,
                                             "",
                                             "",
                                             "imported from zelk_bans.txt"};
    if (!InsertBan(*db, ban, error)) return false;
    ++(db->Changed() > 0 ? *moved : *kept);
  }
  return true;
}

LiftResult LiftSharedBan(const std::string& uri, const std::string& identifier) {
  LiftResult result;
  std::optional<TPgConnection> db = OpenDatabase(uri, &result.Error);
  if (!db) return result;
  std::set<std::string> removed;
  if (DeleteBans(*db, identifier, removed, &result.Error)) result.Removed = static_cast<int>(removed.size());
  return result;
}

bool ListSharedBans(const std::string& uri, std::vector<TBanView>& bans, std::string* error) {
  bans.clear();
  std::optional<TPgConnection> db = OpenDatabase(uri, error);
  if (!db) return false;
  const std::optional<std::map<std::string, int64_t>> inForce = BansInForce(*db, error);
  if (!inForce) return false;
  const int64_t now = platform::UnixSeconds();
  for (const auto& [identifier, end] : *inForce) bans.push_back({identifier, end == 0, end == 0 ? 0 : MinutesLeft(end, now)});
  return true;
}
