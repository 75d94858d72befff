#include "game/ban_store.h"

#include <optional>

#include "base/numbers.h"
#include "game/text_fields.h"

namespace {

// The text file zelk_bans.txt, through the operations of ban_base.h.
class TFileBanStore : public TBanStore {
 public:
  BanLookup Lookup(const std::string& identifier, std::string* left) override { return IsBanned(identifier, left); }

  bool Record(const TBanFacts& ban) override { return AppendBanRecord(ban.Minutes, ban.Identifier); }

  void Refresh() override {}

  void Maintain() override { MaintainBanFile(); }

  LiftResult Lift(const std::string& identifier) override { return LiftBan(identifier); }

  bool List(std::vector<TBanView>& bans, std::string* error) override {
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
};

TFileBanStore fileStore;
// The store in use; written only while no other thread uses it.
TBanStore* current = &fileStore;

}  // namespace

TBanStore& BanStore() { return *current; }

void UseBanStore(TBanStore* store) { current = store ? store : &fileStore; }
