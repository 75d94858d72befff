#include "bans/shared/pg_kept_connection.h"

#include "base/limits.h"
#include "bans/shared/postgres_ban_store.h"

bool TPgKeptConnection::With(const std::function<bool(TPgConnection&, std::string*)>& work, std::string* error) {
  TMutexLock guard(lock_);
  if (!connection_ || !connection_->Healthy()) {
    connection_ = OpenSharedBase(uri_, kBanBaseQueryMs, error);
    if (!connection_) return false;
  }
  if (work(*connection_, error)) return true;
  if (!connection_->Healthy()) connection_.reset();
  return false;
}

std::optional<std::vector<TPgConnection::Row>> TPgKeptConnection::Run(
    const std::string& sql, const std::vector<std::optional<std::string>>& params, std::string* error,
    long* changed) {
  std::optional<std::vector<TPgConnection::Row>> rows;
  With(
      [&](TPgConnection& db, std::string* e) {
        rows = db.Run(sql, params, e);
        if (rows && changed) *changed = db.Changed();
        return rows.has_value();
      },
      error);
  return rows;
}
