#include "bans/shared/postgres_accounts.h"

#include <algorithm>

#include "base/limits.h"
#include "base/numbers.h"
#include "bans/shared/postgres_ban_store.h"

namespace {

const std::string kAccountColumns =
    "name, role, hash, disabled, floor(extract(epoch FROM created_at))::bigint, "
    "floor(extract(epoch FROM changed_at))::bigint";

TAccount AccountOfRow(const TPgConnection::Row& row) {
  const auto text = [&](size_t column) { return row[column].value_or(""); };
  TAccount account;
  account.Name = text(0);
  account.Role = ParseRole(text(1)).value_or(AccountRole::Viewer);
  account.PasswordHash = text(2);
  account.Disabled = text(3) == "t";
  account.CreatedAt = ParseInteger64(text(4)).value_or(0);
  account.ChangedAt = ParseInteger64(text(5)).value_or(0);
  return account;
}

}  // namespace

bool TPostgresAccounts::List(std::vector<TAccount>& accounts, std::string* error) {
  const auto rows = base_.Run("SELECT " + kAccountColumns + " FROM acserver_accounts ORDER BY name", {}, error);
  if (!rows) return false;
  accounts.clear();
  for (const auto& row : *rows) accounts.push_back(AccountOfRow(row));
  return true;
}

std::optional<TAccount> TPostgresAccounts::Find(const std::string& name, std::string* error) {
  error->clear();
  const auto rows = base_.Run("SELECT " + kAccountColumns + " FROM acserver_accounts WHERE name = $1", {name}, error);
  if (!rows || rows->empty()) return std::nullopt;
  return AccountOfRow(rows->front());
}

bool TPostgresAccounts::Add(const TAccount& account, std::string* error) {
  long added = 0;
  if (!base_.Run("INSERT INTO acserver_accounts (name, role, hash, disabled, created_at, changed_at) "
                 "VALUES ($1, $2, $3, $4::boolean, now(), now()) ON CONFLICT (name) DO NOTHING",
                 {account.Name, std::string(RoleName(account.Role)), account.PasswordHash,
                  std::string(account.Disabled ? "true" : "false")},
                 error, &added)) {
    return false;
  }
  if (added == 0) {
    *error = "an account named " + account.Name + " exists already";
    return false;
  }
  return true;
}

bool TPostgresAccounts::Update(const TAccount& account, std::string* error) {
  long updated = 0;
  if (!base_.Run("UPDATE acserver_accounts SET role = $1, hash = $2, disabled = $3::boolean, changed_at = now() "
                 "WHERE name = $4",
                 {std::string(RoleName(account.Role)), account.PasswordHash,
                  std::string(account.Disabled ? "true" : "false"), account.Name},
                 error, &updated)) {
    return false;
  }
  if (updated == 0) {
    *error = "there is no account named " + account.Name;
    return false;
  }
  return true;
}

bool TPostgresAccounts::Audit(const TAuditEntry& entry, std::string* error) {
  // At 0 is the database's now, so that every server's lines order alike.
  const std::optional<std::string> at =
      entry.At != 0 ? std::optional<std::string>(std::to_string(entry.At)) : std::nullopt;
  return base_.Run("INSERT INTO acserver_audit (at, account, address, action, target, detail) "
                   "VALUES (coalesce(to_timestamp($1::bigint), now()), $2, $3, $4, $5, $6)",
                   {at, entry.Account, entry.Address, entry.Action, entry.Target, entry.Detail}, error)
      .has_value();
}

bool TPostgresAccounts::SearchAudit(const std::string& text, int page, TAuditPage& out, std::string* error) {
  const std::string where =
      "($1::text = '' OR account ILIKE $2 OR address ILIKE $2 OR action ILIKE $2 OR target ILIKE $2 OR "
      "detail ILIKE $2)";
  const int64_t offset = int64_t{kAuditPerPage} * (std::clamp(page, 1, 1000000) - 1);
  const auto rows = base_.Run(
      "SELECT id, floor(extract(epoch FROM at))::bigint, account, address, action, target, detail, count(*) OVER () "
      "FROM acserver_audit WHERE " + where + " ORDER BY at DESC, id DESC LIMIT $3::bigint OFFSET $4::bigint",
      {text, PgContainsPattern(text), std::to_string(kAuditPerPage), std::to_string(offset)}, error);
  if (!rows) return false;
  out = {};
  for (const auto& row : *rows) {
    const auto field = [&](size_t column) { return row[column].value_or(""); };
    out.Entries.push_back({ParseInteger64(field(0)).value_or(0), ParseInteger64(field(1)).value_or(0), field(2),
                           field(3), field(4), field(5), field(6)});
    out.Total = ParseInteger64(field(7)).value_or(0);
  }
  if (!rows->empty() || offset == 0) return true;
  // A page past the last: the total still says how many there are.
  const auto total =
      base_.Run("SELECT count(*) FROM acserver_audit WHERE " + where, {text, PgContainsPattern(text)}, error);
  if (!total) return false;
  out.Total = ParseInteger64((*total)[0][0].value_or("")).value_or(0);
  return true;
}
