// The settings record's defaults and the ban-base names.
#include "base/settings.h"

#include "platform/environment.h"

namespace {

constexpr const char* kWebAddress = "http://zelk.example.net";

}  // namespace

std::string DefaultComment() {
  return std::string("Download ZELK anticheat from ") + kWebAddress + " <rus //\\\\ eng> Skachaite ZELK anticheat s " +
         kWebAddress;
}

std::string DefaultAdvertText() { return std::string("This server is using ZELK AntiCheat <") + kWebAddress + ">"; }

bool IsSharedBanBase(const std::string& banBase) {
  return banBase.rfind("postgresql://", 0) == 0 || banBase.rfind("postgres://", 0) == 0;
}

bool IsKnownBanBase(const std::string& banBase) {
  return banBase.empty() || banBase == "file" || IsSharedBanBase(banBase);
}

std::string ServerName(const SettingsRecord& settings) {
  return platform::HostName() + ":" + std::to_string(settings.RconPort);
}
