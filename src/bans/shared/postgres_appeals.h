// The appeals against bans in the shared ban base (table acserver_appeals,
// made by the base's migration), so that an appeal filed on the public list
// of one server of a community is listed, answered and shown on every one.
// Each appeal names its ban by the record number the base gave it.
//
// The calls run on a connection of their own, apart from the ban store's
// worker, its records' searches and the accounts, one at a time; each
// statement is cut off after kBanBaseQueryMs and a connect gives up after
// kBanBaseConnectSeconds, so a slow or absent base holds a web request only
// that long. A connection that broke is opened again at the next call.
#pragma once

#include <optional>
#include <string>

#include "bans/appeal.h"
#include "bans/shared/pg_kept_connection.h"

class TPostgresAppeals : public TAppealStore {
 public:
  // Connects at the first call, not here.
  explicit TPostgresAppeals(std::string uri) : base_(std::move(uri)) {}

  // The bounds are judged and the appeal stored in one transaction that
  // first takes a lock every server's filing takes, so filings on different
  // servers take turns and no two pass a bound together.
  AppealFiling File(TAppeal& appeal, const TAppealBounds& bounds, std::string* error) override;
  std::optional<TAppeal> Get(int64_t id, std::string* error) override;
  bool NewestOfBans(const std::vector<int64_t>& banIds, std::map<int64_t, TAppeal>& newest,
                    std::string* error) override;
  bool List(std::optional<bool> answered, int page, int perPage, TAppealPage& out, std::string* error) override;
  bool Answer(int64_t id, AppealState state, const std::string& by, const std::string& answer, int64_t at,
              std::string* error) override;

 private:
  TPgKeptConnection base_;
};
