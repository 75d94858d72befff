// The names of a ban's origin and end: what the records store and the web
// console and the tools show. Each name reads back to its value.
#include "game/ban_record.h"

namespace {

constexpr struct {
  BanOrigin Origin;
  const char* Name;
} kOriginNames[] = {
    {BanOrigin::Report, "report"},
    {BanOrigin::Web, "web"},
    {BanOrigin::CommandLine, "command line"},
    {BanOrigin::Imported, "imported"},
};

constexpr struct {
  BanEnd End;
  const char* Name;
} kEndNames[] = {
    {BanEnd::InForce, "in force"},
    {BanEnd::Lifted, "lifted"},
    {BanEnd::Expired, "expired"},
};

}  // namespace

const char* BanOriginName(BanOrigin origin) {
  for (const auto& entry : kOriginNames) {
    if (entry.Origin == origin) return entry.Name;
  }
  return "unknown";
}

bool ParseBanOrigin(const std::string& text, BanOrigin* origin) {
  for (const auto& entry : kOriginNames) {
    if (text == entry.Name) {
      *origin = entry.Origin;
      return true;
    }
  }
  return false;
}

const char* BanEndName(BanEnd end) {
  for (const auto& entry : kEndNames) {
    if (entry.End == end) return entry.Name;
  }
  return "unknown";
}

bool ParseBanEnd(const std::string& text, BanEnd* end) {
  for (const auto& entry : kEndNames) {
    if (text == entry.Name) {
      *end = entry.End;
      return true;
    }
  }
  return false;
}
