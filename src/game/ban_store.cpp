#include "game/ban_store.h"

#include <optional>

#include "base/numbers.h"
#include "game/text_fields.h"

BanLookup TFileBanStore::Lookup(const std::string& identifier, std::string* left) {
  return file_.IsBanned(identifier, left);
}

bool TFileBanStore::Record(const TBanFacts& ban) { return file_.AppendBanRecord(ban.Minutes, ban.Identifier); }

void TFileBanStore::Maintain() { file_.Maintain(); }

LiftResult TFileBanStore::Lift(const std::string& identifier) { return file_.Lift(identifier); }

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
