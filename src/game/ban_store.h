// The ban base in use, behind one small interface: the text file zelk_bans.txt
// (the default, which needs nothing), or a base shared by many servers (a
// PostgreSQL database, put in place by the server object when "ban_base"
// names one). Connects, bans, the minute's maintenance, the admin's lift and
// the web console all go through the store in use (TBanStoreInUse), which the
// server object owns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game/ban_base.h"

// A ban as a cheat report makes it.
struct TBanFacts {
  std::string Identifier;
  std::string Name;     // the player's name
  std::string Address;  // the address the report came from
  std::string Reason;
  int32_t Minutes = 0;  // 0: for ever
};

// A ban as the admin sees it.
struct TBanView {
  std::string Identifier;
  bool Forever = false;
  int64_t MinutesLeft = 0;  // when not for ever
};

class TBanStore {
 public:
  virtual ~TBanStore() = default;
  // At connect: whether the identifier is banned; "p" or the minutes left in
  // left. Must answer within milliseconds. Thread safe.
  virtual BanLookup Lookup(const std::string& identifier, std::string* left) = 0;
  // Keeps a ban. False when it could not be kept (the reason is logged).
  // Thread safe.
  virtual bool Record(const TBanFacts& ban) = 0;
  // With every supervision run: a chance to bring the bans up to date.
  // Main thread only.
  virtual void Refresh() = 0;
  // Once a minute: timed bans run out. Main thread only.
  virtual void Maintain() = 0;
  // Removes every ban of the identifier. Thread safe.
  virtual LiftResult Lift(const std::string& identifier) = 0;
  // The bans in force. False with the reason when they cannot be read.
  // Thread safe.
  virtual bool List(std::vector<TBanView>& bans, std::string* error) = 0;
};

// The text file zelk_bans.txt, through TBanFile.
class TFileBanStore : public TBanStore {
 public:
  BanLookup Lookup(const std::string& identifier, std::string* left) override;
  bool Record(const TBanFacts& ban) override;
  void Refresh() override {}
  void Maintain() override;
  LiftResult Lift(const std::string& identifier) override;
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
  // Puts a store in place (null: the file base again); it must outlive its
  // use. Main thread, while no other thread uses the store (before the
  // server starts, after it stopped).
  void Use(TBanStore* store) { current_ = store ? store : &file_; }

 private:
  TFileBanStore file_;
  TBanStore* current_ = &file_;
};
