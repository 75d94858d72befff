// Inside platform only: the Winsock pieces the Windows files share.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>

#include <string>

#include "platform/socket.h"

namespace platform::winsock {

// Starts Winsock 2 for the process, once (WSAStartup); every socket call
// comes after it. Thread safe.
void Start();
// The system's text of a Winsock (or Win32) error code, in UTF-8, without
// the final period, and the code: "An existing connection was forcibly closed
// by the remote host (10054)".
std::string ErrorText(int code);

// A wake for waits in WSAPoll: a non-blocking UDP socket on 127.0.0.1 that
// sends to itself. Signal makes it readable (one byte), Drain empties it. -1
// when it cannot be made (the caller's waits are then woken by nothing).
SocketHandle NewWake();
void SignalWake(SocketHandle wake);
void DrainWake(SocketHandle wake);

// A listener's options hold for every stream it accepts on Linux; Windows does
// not promise it, so the Windows tcp_options.cpp keeps what was set on a
// listener and Accept sets it again on each stream it accepts.
void ApplyListenerOptions(SocketHandle listener, SocketHandle accepted);
// Forgets what was kept for the socket: it is being closed, and its handle may
// be another socket's next.
void ForgetListenerOptions(SocketHandle socket);

}  // namespace platform::winsock
