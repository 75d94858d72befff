// The announcement to the central registry, over the socket that the server
// object keeps for it.
#pragma once

#include <string>

#include "platform/socket.h"

// 0xFF 0xFF, "try_to_reg ", RconPort in decimal, a blank, ClientVersion, a
// blank, the server's version and 0x01, without any terminator.
std::string RegistrationDatagram();
// The start-up registration: one datagram, one wait; an answer turns the
// refreshes on. Prints whether the registry answered. Main thread only.
void RegisterWithRegistry(platform::TUdpSocket& socket);
// The refresh after the game server's status mark changed; only after an
// answered start-up registration. Main thread only.
void RefreshRegistration(platform::TUdpSocket& socket);
