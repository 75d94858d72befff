// Placeholder until the ban base lands.
#include "game/ban_base.h"

#include "app/server.h"

std::string BanBasePath() { return "zelk_bans.txt"; }
BanLookup IsBanned(const std::string&) { return BanLookup::NotBanned; }
std::string DurationText(int32_t) { return std::string(); }
bool AppendBanRecord(int32_t, const std::string&) { return false; }
bool TServer::EnforceBan(const std::string&, const std::string&, const std::string&, int32_t) { return false; }
void TServer::MaintainBanBase() {}
