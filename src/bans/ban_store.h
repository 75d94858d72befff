// The ban base in use, behind one small interface: the text file zelk_bans.txt
// (the default, which needs nothing), or a base shared by many servers (a
// PostgreSQL database, put in place by the server object when "ban_base"
// names one). Connects, bans, the minute's maintenance, the admin's lift and
// the web console all go through the store in use (TBanStoreInUse), which the
// server object owns.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "bans/ban_base.h"
#include "bans/ban_record.h"

// A ban as the admin sees it.
struct TBanView {
  std::string Identifier;
  bool Forever = false;
  int64_t MinutesLeft = 0;  // when not for ever
};

// Whether the records of the bans can be written and read now, and why not.
struct TRecordsHealth {
  bool Up = true;
  std::string Reason;
};

// The records of the bans: who banned whom, when, why, with what evidence,
// and how each ban ended. Kept beside the bans by a store that has them
// (acserver.db beside zelk_bans.txt, or the shared base); each answer false
// or nullopt with the reason when they cannot be read. Thread safe.
class TBanRecords {
 public:
  virtual ~TBanRecords() = default;
  virtual bool Search(const TBanQuery& query, TBanPage& page, std::string* error) = 0;
  // nullopt with error empty: there is no such record.
  virtual std::optional<TBanRecord> Get(int64_t id, std::string* error) = 0;
  // Every record of the identifier, newest first.
  virtual bool History(const std::string& identifier, std::vector<TBanRecord>& records, std::string* error) = 0;
  // One page of the identifier's records but the one numbered exceptId,
  // newest first, with how many there are in all (page from 1). This one
  // pages the whole History; a store that can read a page alone does so.
  virtual bool HistoryPage(const std::string& identifier, int64_t exceptId, int page, int perPage, TBanPage& out,
                           std::string* error);
  // How many records each identifier has (0 for none).
  virtual bool CountBans(const std::vector<std::string>& identifiers, std::map<std::string, int64_t>& counts,
                         std::string* error) = 0;
  // The screenshots that are evidence of a record (paths under the
  // screenshot root): they are kept as long as their record.
  virtual bool EvidencePaths(std::set<std::string>& paths, std::string* error) = 0;
  // The records' health, for the status page and /metrics; a store that does
  // not watch its records answers up.
  virtual TRecordsHealth RecordsHealth() { return {}; }
};

// The bans that are enforced: what a connect, a supervision run, a ban, the
// minute's maintenance and a lift go through.
class TBanStore {
 public:
  virtual ~TBanStore() = default;
  // At connect: whether the identifier is banned; "p" or the minutes left in
  // left. Must answer within milliseconds. Thread safe.
  virtual BanLookup Lookup(const std::string& identifier, std::string* left) = 0;
  // The same for many identifiers at once (the banned ones with their time
  // left in banned); one Lookup each unless a store can do better. Failed
  // when any could not be looked up. Thread safe.
  virtual BanLookup LookupAll(const std::set<std::string>& identifiers, std::map<std::string, std::string>& banned);
  // Keeps a ban (Identifier, MadeAt and EndsAt decide it) with its record.
  // False when the ban could not be kept (the reason is logged); a record
  // that could not be written is kept and written later, and never stops the
  // ban. Thread safe.
  virtual bool Record(const TBanRecord& ban) = 0;
  // With every supervision run: a chance to bring the bans up to date.
  // Main thread only.
  virtual void Refresh() = 0;
  // Once a minute: timed bans run out. Main thread only.
  virtual void Maintain() = 0;
  // Removes every ban of the identifier, and ends its records as lifted
  // with who, from where and why. Thread safe.
  virtual LiftResult Lift(const std::string& identifier, const TBanLift& lift) = 0;
  // The bans in force. False with the reason when they cannot be read.
  // Thread safe.
  virtual bool List(std::vector<TBanView>& bans, std::string* error) = 0;
  // The records kept beside the bans; null when the store keeps none.
  virtual TBanRecords* Records() { return nullptr; }
};

// The minutes a ban lasts in zelk_bans.txt (0: for ever), rounded up.
int32_t BanMinutes(const TBanRecord& ban);

// The text file zelk_bans.txt, through TBanFile.
class TFileBanStore : public TBanStore {
 public:
  BanLookup Lookup(const std::string& identifier, std::string* left) override;
  // One read of the file for all of them.
  BanLookup LookupAll(const std::set<std::string>& identifiers, std::map<std::string, std::string>& banned) override;
  bool Record(const TBanRecord& ban) override;
  void Refresh() override {}
  void Maintain() override;
  LiftResult Lift(const std::string& identifier, const TBanLift& lift) override;
  bool List(std::vector<TBanView>& bans, std::string* error) override;

 private:
  TBanFile file_;
};

// The store in use: the file base unless another was put in place.
class TBanStoreInUse {
 public:
  TBanStoreInUse() = default;
  TBanStoreInUse(const TBanStoreInUse&) = delete;
  TBanStoreInUse& operator=(const TBanStoreInUse&) = delete;

  TBanStore& Get() { return *current_; }
  // The records of the store in use; null when it keeps none.
  TBanRecords* Records() { return current_->Records(); }
  // Their health; up when the store keeps none (nothing of them can fail).
  TRecordsHealth RecordsHealth() {
    TBanRecords* records = Records();
    return records ? records->RecordsHealth() : TRecordsHealth{};
  }
  // Puts a store in place (null: the file base again); it must outlive its
  // use. Main thread, while no other thread uses the store (before the
  // server starts, after it stopped).
  void Use(TBanStore* store) { current_ = store ? store : &file_; }

 private:
  TFileBanStore file_;
  TBanStore* current_ = &file_;
};
