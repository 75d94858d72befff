// The announcement to the central registry, over the socket that the server
// object keeps for it.
#pragma once

#include <string>

#include "base/settings.h"
#include "base/timing.h"
#include "platform/socket.h"

// 0xFF 0xFF, "try_to_reg ", RconPort in decimal, a blank, ClientVersion, a
// blank, the server's version and 0x01, without any terminator.
std::string RegistrationDatagram(const SettingsRecord& settings);
// The start-up registration: one datagram, one wait. Prints whether the
// registry answered; true when it did, which turns the refreshes on. Main
// thread only.
bool RegisterWithRegistry(platform::TUdpSocket& socket, const SettingsRecord& settings, const TimingRecord& timing);
// The refresh after the game server's status mark changed; the caller sends
// it only after an answered start-up registration. Main thread only.
void RefreshRegistration(platform::TUdpSocket& socket, const SettingsRecord& settings, const TimingRecord& timing);
