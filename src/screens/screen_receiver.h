// The screenshot receiver: what becomes of each datagram that reaches the
// screen port, and where the files go. It knows nothing of the socket: the
// screen server (screen_server.h) reads the datagrams and sends the replies.
#pragma once

#include <string>

#include "base/settings.h"
#include "registry/tables.h"

// Handles one datagram from address: ties it to the client with a transfer
// under way from that address, appends it, and writes the file once complete.
// Returns the reply to send ("ok", "resend" or empty). Screen listener thread
// (tests call it directly).
std::string HandleScreenDatagram(TTables& tables, const SettingsRecord& settings, const std::string& datagram,
                                 const std::string& address);
// Where screenshots go: scr_dir when set, else zelk_screens/ in the data
// directory; ends in "/". Thread safe.
std::string ScreenRootDirectory(const SettingsRecord& settings);
// Replaces each of \ / : * ? " < > | by "."; all else unchanged.
std::string MakeFileNameSafe(const std::string& text);
// The identifier as part of a screenshot's file name: the nine reserved
// characters become "." and control bytes are dropped, so no separator or NUL
// remains and the file stays inside its address directory whatever the client
// sent.
std::string SafeIdentifier(const std::string& identifier);
