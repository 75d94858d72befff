// The appeals against bans in the local record base (acserver.db), in a
// table of their own beside the bans, each linked to its ban record by the
// record's id. Each call opens its own short connection, as the accounts do:
// appeals are few and rarely read, so no connection is kept that a deleted or
// replaced base would leave behind, and a call never waits for the ban
// records' writer. A base locked by another process makes a call fail after
// 1 s.
#pragma once

#include <optional>
#include <string>

#include "bans/appeal.h"
#include "bans/records/sqlite_handle.h"

namespace records {

class TSqliteAppeals : public TAppealStore {
 public:
  explicit TSqliteAppeals(std::string path) : path_(std::move(path)) {}

  AppealFiling File(TAppeal& appeal, const TAppealBounds& bounds, std::string* error) override;
  std::optional<TAppeal> Get(int64_t id, std::string* error) override;
  bool NewestOfBans(const std::vector<int64_t>& banIds, std::map<int64_t, TAppeal>& newest,
                    std::string* error) override;
  bool List(std::optional<bool> answered, int page, int perPage, TAppealPage& out, std::string* error) override;
  bool Answer(int64_t id, AppealState state, const std::string& by, const std::string& answer, int64_t at,
              std::string* error) override;

 private:
  // A connection with the table in place; nullopt with the reason.
  std::optional<TSqliteDb> Connect(std::string* error);

  const std::string path_;
};

}  // namespace records
