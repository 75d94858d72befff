// The names of a ban's origin and end: what the records store and the web
// console and the tools show. Each name reads back to its value.
#include "bans/ban_record.h"

#include "base/word_table.h"

namespace {

constexpr TWord<BanOrigin> kOriginNames[] = {
    {"report", BanOrigin::Report},
    {"web", BanOrigin::Web},
    {"command line", BanOrigin::CommandLine},
    {"imported", BanOrigin::Imported},
};

constexpr TWord<BanEnd> kEndNames[] = {
    {"in force", BanEnd::InForce},
    {"lifted", BanEnd::Lifted},
    {"expired", BanEnd::Expired},
};

}  // namespace

const char* BanOriginName(BanOrigin origin) { return WordOf(kOriginNames, origin, "unknown"); }

bool ParseBanOrigin(const std::string& text, BanOrigin* origin) {
  const std::optional<BanOrigin> value = ValueOf(kOriginNames, text);
  if (value) *origin = *value;
  return value.has_value();
}

const char* BanEndName(BanEnd end) { return WordOf(kEndNames, end, "unknown"); }

bool ParseBanEnd(const std::string& text, BanEnd* end) {
  const std::optional<BanEnd> value = ValueOf(kEndNames, text);
  if (value) *end = *value;
  return value.has_value();
}
