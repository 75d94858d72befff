// The accounts and the audit trail of the web console in the local record
// base (acserver.db), in tables of their own beside the bans. Each call opens
// its own short connection: accounts change rarely and are read at a login,
// so no connection is kept that a deleted or replaced base would leave
// behind, and a call never waits for the ban records' writer. A base locked
// by another process makes a call fail after 1 s.
#pragma once

#include <optional>
#include <string>

#include "accounts/account_store.h"
#include "bans/records/sqlite_handle.h"

namespace records {

class TSqliteAccounts : public TAccountStore {
 public:
  explicit TSqliteAccounts(std::string path) : path_(std::move(path)) {}

  bool List(std::vector<TAccount>& accounts, std::string* error) override;
  std::optional<TAccount> Find(const std::string& name, std::string* error) override;
  bool Add(const TAccount& account, std::string* error) override;
  bool Update(const TAccount& account, std::string* error) override;
  bool Audit(const TAuditEntry& entry, std::string* error) override;
  bool SearchAudit(const std::string& text, int page, TAuditPage& out, std::string* error) override;

 private:
  // A connection with the tables in place; nullopt with the reason.
  std::optional<TSqliteDb> Connect(std::string* error);

  const std::string path_;
};

}  // namespace records
