// What every fuzz target shares: a throw-away data directory, settings of a
// plausible server, and a scripted game server in place of the remote
// console's socket, so that each input drives the real core without a
// network or a wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/settings.h"
#include "channel/command_server.h"
#include "supervision/server_state.h"

namespace fuzz {

// Default settings with a check value, screenshots on, and the game server at
// 127.0.0.1:27015.
SettingsRecord PlausibleSettings();
// Once per process: the data directory (ACSERVER_HOME, set by scripts/fuzz.sh
// to a directory on tmpfs) gets its log directory.
void SetUpProcess();
// Before each input: empty tables, no ban base, and, every thousand inputs,
// emptied logs, so that a long run does not fill the disk.
void SetUpInput();
// The input as text.
std::string Text(const uint8_t* data, size_t size);
// The lines of text, split at LF (a CR before it kept, as the core sees it).
std::vector<std::string> Lines(const std::string& text);

// The state the server object owns, once per process, on PlausibleSettings;
// its remote console talks to a scripted game server that gives every
// challenge and answers each command with the text Answer set for it (empty
// by default). Built on first use, never destroyed.
TServerState& State();
// The answer for commands that begin with prefix; others get "".
void Answer(const std::string& prefix, const std::string& text);
// The client command table bound to State(), as the server registers it.
const std::vector<CommandHandler>& Handlers();

}  // namespace fuzz
