// What every fuzz target shares: a throw-away data directory, settings of a
// plausible server, and a scripted game server in place of the remote
// console's socket, so that each input drives the real core without a
// network or a wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/settings.h"
#include "base/timing.h"
#include "channel/command_server.h"
#include "supervision/ban_enforcement.h"
#include "bans/ban_store.h"
#include "rcon/chat.h"
#include "rcon/rcon_client.h"
#include "supervision/supervise.h"
#include "registry/tables.h"

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

// A remote console whose game server gives every challenge and answers each
// command with the text that Answer returns for it (empty by default).
class TScriptedRcon {
 public:
  TScriptedRcon(const SettingsRecord& settings, const TimingRecord& timing);
  TRconClient& Client() { return client_; }
  // The answer for commands that begin with prefix; others get "".
  void Answer(const std::string& prefix, const std::string& text);

 private:
  std::shared_ptr<std::map<std::string, std::string>> answers_;  // shared with the link
  TRconClient client_;
};

// The state the server object owns, once per process, around a scripted game
// server; State() builds it on first use.
struct TFuzzState {
  SettingsRecord Settings = PlausibleSettings();
  TimingRecord Timing;
  TTables Tables;
  TScriptedRcon Rcon{Settings, Timing};
  TChat Chat{Rcon.Client(), Settings};
  TBanStoreInUse Bans;
  TSupervision Supervision{Settings, Tables, Rcon.Client()};
  TBanEnforcement Enforcement{Settings, Rcon.Client(), Chat, Bans, Supervision};
  // The six command handlers as the server registers them.
  std::vector<CommandHandler> Handlers;
  TFuzzState();
};
TFuzzState& State();

}  // namespace fuzz
