#include "bans/records/account_base.h"

#include <algorithm>

#include "platform/clock_text.h"

namespace records {

namespace {

constexpr const char* kTables = R"sql(
CREATE TABLE IF NOT EXISTS accounts(
  name TEXT PRIMARY KEY,
  role TEXT NOT NULL,
  hash TEXT NOT NULL,
  disabled INTEGER NOT NULL DEFAULT 0,
  created_at INTEGER NOT NULL,
  changed_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS audit(
  id INTEGER PRIMARY KEY,
  at INTEGER NOT NULL,
  account TEXT NOT NULL,
  address TEXT NOT NULL,
  action TEXT NOT NULL,
  target TEXT NOT NULL,
  detail TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS audit_newest ON audit(at DESC, id DESC);
)sql";

constexpr int kBusyTimeoutMs = 1000;

TAccount AccountOf(const TStatement& row) {
  TAccount account;
  account.Name = row.Text(0);
  account.Role = ParseRole(row.Text(1)).value_or(AccountRole::Viewer);
  account.PasswordHash = row.Text(2);
  account.Disabled = row.Int(3) != 0;
  account.CreatedAt = row.Int(4);
  account.ChangedAt = row.Int(5);
  return account;
}

// A LIKE pattern that matches text anywhere, its wildcards taken literally.
std::string Pattern(const std::string& text) {
  std::string pattern = "%";
  for (const char c : text) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return pattern + "%";
}

}  // namespace

std::optional<TSqliteDb> TSqliteAccounts::Connect(std::string* error) {
  return OpenBesideRecords(path_, "'accounts', 'audit'", 2, kTables, kBusyTimeoutMs, error);
}

bool TSqliteAccounts::List(std::vector<TAccount>& accounts, std::string* error) {
  std::optional<TSqliteDb> db = Connect(error);
  if (!db) return false;
  TStatement select(*db, "SELECT name, role, hash, disabled, created_at, changed_at FROM accounts ORDER BY name");
  if (!select.Ok()) return StatementFailed(select, error);
  accounts.clear();
  for (TStatement::Step step; (step = select.Next()) != TStatement::Step::Done;) {
    if (step == TStatement::Step::Failed) return StatementFailed(select, error);
    accounts.push_back(AccountOf(select));
  }
  return true;
}

std::optional<TAccount> TSqliteAccounts::Find(const std::string& name, std::string* error) {
  error->clear();
  std::optional<TSqliteDb> db = Connect(error);
  if (!db) return std::nullopt;
  TStatement select(*db,
                    "SELECT name, role, hash, disabled, created_at, changed_at FROM accounts WHERE name = ?");
  if (!select.Ok()) {
    StatementFailed(select, error);
    return std::nullopt;
  }
  select.Bind(1, name);
  return OneRow(select, AccountOf, error);
}

bool TSqliteAccounts::Add(const TAccount& account, std::string* error) {
  std::optional<TSqliteDb> db = Connect(error);
  if (!db) return false;
  const int64_t now = platform::UnixSeconds();
  TStatement insert(*db,
                    "INSERT INTO accounts(name, role, hash, disabled, created_at, changed_at) "
                    "VALUES(?, ?, ?, ?, ?, ?) ON CONFLICT(name) DO NOTHING");
  if (!insert.Ok()) return StatementFailed(insert, error);
  insert.Bind(1, account.Name).Bind(2, std::string(RoleName(account.Role))).Bind(3, account.PasswordHash);
  insert.Bind(4, int64_t{account.Disabled}).Bind(5, now).Bind(6, now);
  if (!insert.Run()) return StatementFailed(insert, error);
  if (db->Changes() == 0) {
    *error = "an account named " + account.Name + " exists already";
    return false;
  }
  return true;
}

bool TSqliteAccounts::Update(const TAccount& account, std::string* error) {
  std::optional<TSqliteDb> db = Connect(error);
  if (!db) return false;
  TStatement update(*db, "UPDATE accounts SET role = ?, hash = ?, disabled = ?, changed_at = ? WHERE name = ?");
  if (!update.Ok()) return StatementFailed(update, error);
  update.Bind(1, std::string(RoleName(account.Role))).Bind(2, account.PasswordHash);
  update.Bind(3, int64_t{account.Disabled}).Bind(4, platform::UnixSeconds()).Bind(5, account.Name);
  if (!update.Run()) return StatementFailed(update, error);
  if (db->Changes() == 0) {
    *error = "there is no account named " + account.Name;
    return false;
  }
  return true;
}

bool TSqliteAccounts::Audit(const TAuditEntry& entry, std::string* error) {
  std::optional<TSqliteDb> db = Connect(error);
  if (!db) return false;
  TStatement insert(*db, "INSERT INTO audit(at, account, address, action, target, detail) VALUES(?, ?, ?, ?, ?, ?)");
  if (!insert.Ok()) return StatementFailed(insert, error);
  insert.Bind(1, entry.At != 0 ? entry.At : platform::UnixSeconds()).Bind(2, entry.Account).Bind(3, entry.Address);
  insert.Bind(4, entry.Action).Bind(5, entry.Target).Bind(6, entry.Detail);
  return insert.Run() || StatementFailed(insert, error);
}

bool TSqliteAccounts::SearchAudit(const std::string& text, int page, TAuditPage& out, std::string* error) {
  std::optional<TSqliteDb> db = Connect(error);
  if (!db) return false;
  const std::string where =
      text.empty() ? std::string()
                   : " WHERE account LIKE ?1 ESCAPE '\\' OR address LIKE ?1 ESCAPE '\\' OR action LIKE ?1 ESCAPE '\\'"
                     " OR target LIKE ?1 ESCAPE '\\' OR detail LIKE ?1 ESCAPE '\\'";
  TStatement count(*db, "SELECT count(*) FROM audit" + where);
  if (!count.Ok()) return StatementFailed(count, error);
  if (!text.empty()) count.Bind(1, Pattern(text));
  if (count.Next() != TStatement::Step::Row) return StatementFailed(count, error);
  out.Total = count.Int(0);
  TStatement select(*db, "SELECT id, at, account, address, action, target, detail FROM audit" + where +
                             " ORDER BY at DESC, id DESC LIMIT ?2 OFFSET ?3");
  if (!select.Ok()) return StatementFailed(select, error);
  if (!text.empty()) select.Bind(1, Pattern(text));
  select.Bind(2, int64_t{kAuditPerPage}).Bind(3, int64_t{kAuditPerPage} * (std::max(page, 1) - 1));
  out.Entries.clear();
  for (TStatement::Step step; (step = select.Next()) != TStatement::Step::Done;) {
    if (step == TStatement::Step::Failed) return StatementFailed(select, error);
    out.Entries.push_back({select.Int(0), select.Int(1), select.Text(2), select.Text(3), select.Text(4),
                           select.Text(5), select.Text(6)});
  }
  return true;
}

}  // namespace records
