// The settings record: written once at start-up, before any other thread
// exists, and only read afterwards, so it needs no lock.
#include "base/settings.h"

SettingsRecord Settings;

namespace {

constexpr const char* kWebAddress = "http://zelk.example.net";

}  // namespace

std::string DefaultComment() {
  return std::string("Download ZELK anticheat from ") + kWebAddress + " <rus //\\\\ eng> Skachaite ZELK anticheat s " +
         kWebAddress;
}

std::string DefaultAdvertText() { return std::string("This server is using ZELK AntiCheat <") + kWebAddress + ">"; }

void ResetSettings() { Settings = SettingsRecord{}; }

