// The web console's accounts and their audit trail in the shared ban base
// (tables acserver_accounts and acserver_audit, made by the base's
// migration), so that one account works on every server of a community and
// the trail shows what each did on any of them.
//
// The calls run on a connection of their own, apart from the ban store's
// worker and its records' searches, one at a time; each statement is cut off
// after kBanBaseQueryMs and a connect gives up after kBanBaseConnectSeconds,
// so a slow or absent base holds a login or the audit writer only that long,
// and never the copy of the bans. A connection that broke is opened again at
// the next call.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "accounts/account_store.h"
#include "bans/shared/pg_kept_connection.h"

class TPostgresAccounts : public TAccountStore {
 public:
  // Connects at the first call, not here.
  explicit TPostgresAccounts(std::string uri) : base_(std::move(uri)) {}

  bool List(std::vector<TAccount>& accounts, std::string* error) override;
  std::optional<TAccount> Find(const std::string& name, std::string* error) override;
  bool Add(const TAccount& account, std::string* error) override;
  bool Update(const TAccount& account, std::string* error) override;
  bool Audit(const TAuditEntry& entry, std::string* error) override;
  bool SearchAudit(const std::string& text, int page, TAuditPage& out, std::string* error) override;

 private:
  TPgKeptConnection base_;
};
