#include "bans/ban_store.h"

#include <algorithm>
#include <climits>
#include <iterator>
#include <optional>

#include "base/numbers.h"
#include "rcon/text_fields.h"

BanLookup TFileBanStore::Lookup(const std::string& identifier, std::string* left) {
  return file_.IsBanned(identifier, left);
}

BanLookup TFileBanStore::LookupAll(const std::set<std::string>& identifiers,
                                   std::map<std::string, std::string>& banned) {
  return file_.AreBanned(identifiers, banned);
}

BanLookup TBanStore::LookupAll(const std::set<std::string>& identifiers, std::map<std::string, std::string>& banned) {
  banned.clear();
  for (const std::string& identifier : identifiers) {
    std::string left;
    const BanLookup lookup = Lookup(identifier, &left);
    if (lookup == BanLookup::Failed) return lookup;
    if (lookup == BanLookup::Banned) banned[identifier] = left;
  }
  return banned.empty() ? BanLookup::NotBanned : BanLookup::Banned;
}

int32_t BanMinutes(const TBanRecord& ban) {
  if (ban.EndsAt == 0) return 0;
  const int64_t minutes = (ban.EndsAt - ban.MadeAt + 59) / 60;
  return static_cast<int32_t>(std::clamp<int64_t>(minutes, 1, INT32_MAX));
}

bool TFileBanStore::Record(const TBanRecord& ban) { return file_.AppendBanRecord(BanMinutes(ban), ban.Identifier); }

void TFileBanStore::Maintain() { file_.Maintain(); }

LiftResult TFileBanStore::Lift(const std::string& identifier, const TBanLift&) { return file_.Lift(identifier); }

bool TBanRecords::HistoryPage(const std::string& identifier, int64_t exceptId, int page, int perPage, TBanPage& out,
                            std::string* error) {
  std::vector<TBanRecord> records;
  if (!History(identifier, records, error)) return false;
  std::erase_if(records, [exceptId](const TBanRecord& record) { return record.Id == exceptId; });
  out.Total = static_cast<int64_t>(records.size());
  const size_t size = static_cast<size_t>(std::max(perPage, 1));
  const size_t first = std::min(records.size(), (static_cast<size_t>(std::max(page, 1)) - 1) * size);
  const size_t last = std::min(records.size(), first + size);
  out.Records.assign(std::make_move_iterator(records.begin() + static_cast<ptrdiff_t>(first)),
                     std::make_move_iterator(records.begin() + static_cast<ptrdiff_t>(last)));
  return true;
}

bool TFileBanStore::List(std::vector<TBanView>& bans, std::string* error) {
  bans.clear();
  std::vector<std::string> records;
  if (!ReadBanRecords(records, error)) return false;
  for (const std::string& record : records) {
    const std::string duration = ExtractQuoted(record, 1);
    const std::optional<int32_t> minutes = ParseInteger(duration);
    if (duration != "p" && !minutes) continue;  // not a record: the maintenance drops it
    bans.push_back({ExtractQuoted(record, 2), duration == "p", minutes.value_or(0)});
  }
  return true;
}
