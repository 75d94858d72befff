#include "bans/shared/postgres_appeals.h"

#include <algorithm>

#include "base/limits.h"
#include "base/numbers.h"
#include "bans/shared/postgres_ban_store.h"

namespace {

// Taken by every filing, on every server, for the rest of its transaction.
constexpr int64_t kFilingLockKey = 7270012;
constexpr int64_t kThrottleSeconds = 3600;

const std::string kColumns =
    "id, ban_id, identifier, name, floor(extract(epoch FROM made_at))::bigint, text, contact, address, state, "
    "coalesce(floor(extract(epoch FROM answered_at))::bigint, 0), answered_by, answer";

TAppeal AppealOfRow(const TPgConnection::Row& row) {
  const auto text = [&](size_t column) { return row[column].value_or(""); };
  const auto number = [&](size_t column) { return ParseInteger64(text(column)).value_or(0); };
  TAppeal appeal;
  appeal.Id = number(0);
  appeal.BanId = number(1);
  appeal.Identifier = text(2);
  appeal.Name = text(3);
  appeal.MadeAt = number(4);
  appeal.Text = text(5);
  appeal.Contact = text(6);
  appeal.Address = text(7);
  appeal.State = ParseAppealState(text(8)).value_or(AppealState::Open);
  appeal.AnsweredAt = number(9);
  appeal.AnsweredBy = text(10);
  appeal.Answer = text(11);
  return appeal;
}

// Judges the bounds and stores the appeal, inside the caller's transaction;
// the new appeal's number in *id when Filed.
AppealFiling FileInTransaction(TPgConnection& db, const TAppeal& appeal, const TAppealBounds& bounds, int64_t* id,
                               std::string* error) {
  if (!db.Run("SELECT pg_advisory_xact_lock(" + std::to_string(kFilingLockKey) + ")", {}, error)) {
    return AppealFiling::Failed;
  }
  // Read after the lock: every filing that held it before is committed and seen.
  const auto counts = db.Run(
      "SELECT (SELECT count(*) FROM acserver_appeals WHERE ban_id = $1::bigint AND state = 'open'), "
      "(SELECT count(*) FROM acserver_appeals WHERE address = $2 AND made_at > to_timestamp($3::bigint)), "
      "(SELECT count(*) FROM acserver_appeals WHERE state = 'open')",
      {std::to_string(appeal.BanId), appeal.Address, std::to_string(appeal.MadeAt - kThrottleSeconds)}, error);
  if (!counts) return AppealFiling::Failed;
  const auto count = [&](size_t column) { return ParseInteger64((*counts)[0][column].value_or("")).value_or(0); };
  if (count(0) > 0) return AppealFiling::OpenAlready;
  if (count(1) >= bounds.PerAddressPerHour) return AppealFiling::Throttled;
  if (count(2) >= bounds.MaxOpen) return AppealFiling::TooMany;
  const auto inserted = db.Run(
      "INSERT INTO acserver_appeals (ban_id, identifier, name, made_at, text, contact, address, state) "
      "VALUES ($1::bigint, $2, $3, to_timestamp($4::bigint), $5, $6, $7, 'open') RETURNING id",
      {std::to_string(appeal.BanId), appeal.Identifier, appeal.Name, std::to_string(appeal.MadeAt), appeal.Text,
       appeal.Contact, appeal.Address},
      error);
  if (!inserted) return AppealFiling::Failed;
  *id = ParseInteger64((*inserted)[0][0].value_or("")).value_or(0);
  return AppealFiling::Filed;
}

}  // namespace

AppealFiling TPostgresAppeals::File(TAppeal& appeal, const TAppealBounds& bounds, std::string* error) {
  AppealFiling filing = AppealFiling::Failed;
  int64_t id = 0;
  base_.With(
      [&](TPgConnection& db, std::string* e) {
        if (!db.Run("BEGIN", {}, e)) return false;
        filing = FileInTransaction(db, appeal, bounds, &id, e);
        if (filing == AppealFiling::Filed) {
          if (db.Run("COMMIT", {}, e)) return true;
          filing = AppealFiling::Failed;
        }
        // A refusal or a failure stores nothing; the rollback also ends the
        // lock, and a transaction a failed statement left open.
        std::string ignored;
        db.Run("ROLLBACK", {}, &ignored);
        return filing != AppealFiling::Failed;
      },
      error);
  if (filing == AppealFiling::Filed) {
    appeal.Id = id;
    appeal.State = AppealState::Open;
  }
  return filing;
}

std::optional<TAppeal> TPostgresAppeals::Get(int64_t id, std::string* error) {
  error->clear();
  const auto rows =
      base_.Run("SELECT " + kColumns + " FROM acserver_appeals WHERE id = $1::bigint", {std::to_string(id)}, error);
  if (!rows || rows->empty()) return std::nullopt;
  return AppealOfRow(rows->front());
}

bool TPostgresAppeals::NewestOfBans(const std::vector<int64_t>& banIds, std::map<int64_t, TAppeal>& newest,
                                    std::string* error) {
  newest.clear();
  if (banIds.empty()) return true;
  std::string ids = "{";
  for (int64_t banId : banIds) ids += (ids.size() > 1 ? "," : "") + std::to_string(banId);
  const auto rows = base_.Run("SELECT DISTINCT ON (ban_id) " + kColumns +
                                  " FROM acserver_appeals WHERE ban_id = ANY($1::bigint[]) ORDER BY ban_id, id DESC",
                              {ids + "}"}, error);
  if (!rows) return false;
  for (const auto& row : *rows) {
    TAppeal appeal = AppealOfRow(row);
    newest[appeal.BanId] = std::move(appeal);
  }
  return true;
}

bool TPostgresAppeals::List(std::optional<bool> answered, int page, int perPage, TAppealPage& out,
                            std::string* error) {
  const std::string where = !answered ? "" : *answered ? " WHERE state != 'open'" : " WHERE state = 'open'";
  const auto total = base_.Run("SELECT count(*) FROM acserver_appeals" + where, {}, error);
  if (!total) return false;
  const auto rows = base_.Run("SELECT " + kColumns + " FROM acserver_appeals" + where +
                                  " ORDER BY id DESC LIMIT $1::bigint OFFSET $2::bigint",
                              {std::to_string(perPage), std::to_string(int64_t{perPage} * (std::max(page, 1) - 1))},
                              error);
  if (!rows) return false;
  out.Total = ParseInteger64((*total)[0][0].value_or("")).value_or(0);
  out.Appeals.clear();
  for (const auto& row : *rows) out.Appeals.push_back(AppealOfRow(row));
  return true;
}

bool TPostgresAppeals::Answer(int64_t id, AppealState state, const std::string& by, const std::string& answer,
                              int64_t at, std::string* error) {
  error->clear();
  // Two answers at once: the second waits for the first's row, then finds it
  // no longer open and changes nothing.
  long changed = 0;
  if (!base_.Run("UPDATE acserver_appeals SET state = $1, answered_at = to_timestamp($2::bigint), answered_by = $3, "
                 "answer = $4 WHERE id = $5::bigint AND state = 'open'",
                 {std::string(AppealStateName(state)), std::to_string(at), by, answer, std::to_string(id)}, error,
                 &changed)) {
    return false;
  }
  return changed == 1;
}
