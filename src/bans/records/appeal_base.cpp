#include "bans/records/appeal_base.h"

#include <algorithm>


namespace records {

namespace {

// At most one open appeal per ban: the partial unique index makes a second
// one fail even if two filings of one ban were to race past the check.
constexpr const char* kTables = R"sql(
CREATE TABLE IF NOT EXISTS appeals(
  id INTEGER PRIMARY KEY,
  ban_id INTEGER NOT NULL,
  identifier TEXT NOT NULL,
  name TEXT NOT NULL,
  made_at INTEGER NOT NULL,
  text TEXT NOT NULL,
  contact TEXT NOT NULL,
  address TEXT NOT NULL,
  state TEXT NOT NULL,
  answered_at INTEGER NOT NULL DEFAULT 0,
  answered_by TEXT NOT NULL DEFAULT '',
  answer TEXT NOT NULL DEFAULT '');
CREATE UNIQUE INDEX IF NOT EXISTS appeals_one_open ON appeals(ban_id) WHERE state = 'open';
CREATE INDEX IF NOT EXISTS appeals_of_ban ON appeals(ban_id, id);
CREATE INDEX IF NOT EXISTS appeals_of_address ON appeals(address, made_at);
CREATE INDEX IF NOT EXISTS appeals_of_state ON appeals(state, id);
)sql";

constexpr const char* kColumns =
    "id, ban_id, identifier, name, made_at, text, contact, address, state, answered_at, answered_by, answer";

constexpr int kBusyTimeoutMs = 1000;
constexpr int64_t kThrottleSeconds = 3600;

TAppeal AppealOf(const TStatement& row) {
  TAppeal appeal;
  appeal.Id = row.Int(0);
  appeal.BanId = row.Int(1);
  appeal.Identifier = row.Text(2);
  appeal.Name = row.Text(3);
  appeal.MadeAt = row.Int(4);
  appeal.Text = row.Text(5);
  appeal.Contact = row.Text(6);
  appeal.Address = row.Text(7);
  appeal.State = ParseAppealState(row.Text(8)).value_or(AppealState::Open);
  appeal.AnsweredAt = row.Int(9);
  appeal.AnsweredBy = row.Text(10);
  appeal.Answer = row.Text(11);
  return appeal;
}

// The count the statement answers; nullopt (with the reason) when it fails.
std::optional<int64_t> Count(TStatement& statement, std::string* error) {
  if (!statement.Ok() || statement.Next() != TStatement::Step::Row) {
    StatementFailed(statement, error);
    return std::nullopt;
  }
  return statement.Int(0);
}

// Rolls back the transaction it was made for unless Commit ran first.
class TTransaction {
 public:
  explicit TTransaction(TSqliteDb& db) : db_(db) {}
  ~TTransaction() {
    std::string ignored;
    if (!done_) db_.Exec("ROLLBACK", &ignored);
  }
  TTransaction(const TTransaction&) = delete;
  TTransaction& operator=(const TTransaction&) = delete;
  bool Commit(std::string* error) {
    done_ = db_.Exec("COMMIT", error);
    return done_;
  }

 private:
  TSqliteDb& db_;
  bool done_ = false;
};

}  // namespace

std::optional<TSqliteDb> TSqliteAppeals::Connect(std::string* error) {
  return OpenBesideRecords(path_, "'appeals'", 1, kTables, kBusyTimeoutMs, error);
}

AppealFiling TSqliteAppeals::File(TAppeal& appeal, const TAppealBounds& bounds, std::string* error) {
  std::optional<TSqliteDb> db = Connect(error);
  if (!db) return AppealFiling::Failed;
  // IMMEDIATE: the write lock is taken before the counts are read, so no
  // other filing can come between them and the insert.
  if (!db->Exec("BEGIN IMMEDIATE", error)) return AppealFiling::Failed;
  TTransaction transaction(*db);
  TStatement open(*db, "SELECT count(*) FROM appeals WHERE ban_id = ? AND state = 'open'");
  open.Bind(1, appeal.BanId);
  const std::optional<int64_t> openOfBan = Count(open, error);
  if (!openOfBan) return AppealFiling::Failed;
  if (*openOfBan > 0) return AppealFiling::OpenAlready;
  TStatement recent(*db, "SELECT count(*) FROM appeals WHERE address = ? AND made_at > ?");
  recent.Bind(1, appeal.Address).Bind(2, appeal.MadeAt - kThrottleSeconds);
  const std::optional<int64_t> fromAddress = Count(recent, error);
  if (!fromAddress) return AppealFiling::Failed;
  if (*fromAddress >= bounds.PerAddressPerHour) return AppealFiling::Throttled;
  TStatement all(*db, "SELECT count(*) FROM appeals WHERE state = 'open'");
  const std::optional<int64_t> allOpen = Count(all, error);
  if (!allOpen) return AppealFiling::Failed;
  if (*allOpen >= bounds.MaxOpen) return AppealFiling::TooMany;
  TStatement insert(*db,
                    "INSERT INTO appeals(ban_id, identifier, name, made_at, text, contact, address, state) "
                    "VALUES(?, ?, ?, ?, ?, ?, ?, 'open')");
  if (!insert.Ok()) {
    StatementFailed(insert, error);
    return AppealFiling::Failed;
  }
  insert.Bind(1, appeal.BanId).Bind(2, appeal.Identifier).Bind(3, appeal.Name).Bind(4, appeal.MadeAt);
  insert.Bind(5, appeal.Text).Bind(6, appeal.Contact).Bind(7, appeal.Address);
  if (!insert.Run()) {
    StatementFailed(insert, error);
    return AppealFiling::Failed;
  }
  appeal.Id = db->LastInsertId();
  appeal.State = AppealState::Open;
  return transaction.Commit(error) ? AppealFiling::Filed : AppealFiling::Failed;
}

std::optional<TAppeal> TSqliteAppeals::Get(int64_t id, std::string* error) {
  error->clear();
  std::optional<TSqliteDb> db = Connect(error);
  if (!db) return std::nullopt;
  TStatement select(*db, std::string("SELECT ") + kColumns + " FROM appeals WHERE id = ?");
  if (!select.Ok()) {
    StatementFailed(select, error);
    return std::nullopt;
  }
  select.Bind(1, id);
  return OneRow(select, AppealOf, error);
}

bool TSqliteAppeals::NewestOfBans(const std::vector<int64_t>& banIds, std::map<int64_t, TAppeal>& newest,
                                  std::string* error) {
  newest.clear();
  if (banIds.empty()) return true;
  std::optional<TSqliteDb> db = Connect(error);
  if (!db) return false;
  std::string marks;
  for (size_t i = 0; i < banIds.size(); ++i) marks += i == 0 ? "?" : ", ?";
  TStatement select(*db, std::string("SELECT ") + kColumns + " FROM appeals WHERE ban_id IN (" + marks +
                             ") ORDER BY id");
  if (!select.Ok()) return StatementFailed(select, error);
  for (size_t i = 0; i < banIds.size(); ++i) select.Bind(static_cast<int>(i + 1), banIds[i]);
  for (TStatement::Step step; (step = select.Next()) != TStatement::Step::Done;) {
    if (step == TStatement::Step::Failed) return StatementFailed(select, error);
    TAppeal appeal = AppealOf(select);
    newest[appeal.BanId] = std::move(appeal);  // by id, oldest first: the newest stays
  }
  return true;
}

bool TSqliteAppeals::List(std::optional<bool> answered, int page, int perPage, TAppealPage& out,
                          std::string* error) {
  std::optional<TSqliteDb> db = Connect(error);
  if (!db) return false;
  const std::string where = !answered ? "" : *answered ? " WHERE state != 'open'" : " WHERE state = 'open'";
  TStatement count(*db, "SELECT count(*) FROM appeals" + where);
  const std::optional<int64_t> total = Count(count, error);
  if (!total) return false;
  out.Total = *total;
  TStatement select(*db, std::string("SELECT ") + kColumns + " FROM appeals" + where +
                             " ORDER BY id DESC LIMIT ? OFFSET ?");
  if (!select.Ok()) return StatementFailed(select, error);
  select.Bind(1, int64_t{perPage}).Bind(2, int64_t{perPage} * (std::max(page, 1) - 1));
  out.Appeals.clear();
  for (TStatement::Step step; (step = select.Next()) != TStatement::Step::Done;) {
    if (step == TStatement::Step::Failed) return StatementFailed(select, error);
    out.Appeals.push_back(AppealOf(select));
  }
  return true;
}

bool TSqliteAppeals::Answer(int64_t id, AppealState state, const std::string& by, const std::string& answer,
                            int64_t at, std::string* error) {
  error->clear();
  std::optional<TSqliteDb> db = Connect(error);
  if (!db) return false;
  TStatement update(*db,
                    "UPDATE appeals SET state = ?, answered_at = ?, answered_by = ?, answer = ? "
                    "WHERE id = ? AND state = 'open'");
  if (!update.Ok()) return StatementFailed(update, error);
  update.Bind(1, std::string(AppealStateName(state))).Bind(2, at).Bind(3, by).Bind(4, answer).Bind(5, id);
  if (!update.Run()) return StatementFailed(update, error);
  return db->Changes() == 1;
}

}  // namespace records
