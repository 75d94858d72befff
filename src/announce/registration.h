// The announcement to the central registry; the operations themselves are
// TServer::RegisterWithRegistry and TServer::RefreshRegistration.
#pragma once

#include <string>

// 0xFF 0xFF, "try_to_reg ", RconPort in decimal, a blank, ClientVersion, a
// blank, the server's version and 0x01, without any terminator.
std::string RegistrationDatagram();
