// "<ban>": a client reports a cheat; the named player is banned through the
// ban enforcement.
#include "channel/client_commands.h"

#include <string>

#include "base/metrics.h"
#include "base/settings.h"
#include "game/ban_enforcement.h"
#include "log/logs.h"
#include "platform/console.h"
#include "registry/busy_flag.h"
#include "registry/tables.h"

// "<ban> name... reason". Only a connection from the address that registered
// the client may report it: from anywhere else the answer is "rpl:false",
// nothing changes, and the refusal goes to the full log with both addresses, so
// nobody who can reach the port bans players by name. The ban's length is
// always BanTime. BusyFlag is held through the whole enforcement.
void BanCmd(TRconClient& rcon, CommandCall& call) {
  TBusyGuard busy;
  platform::ConsoleLine("command: ban");
  const std::vector<std::string>& words = call.Arguments;
  if (words.size() < 2) {
    busy.Release();
    call.Failed = true;
    call.SendCommandReply();
    return;
  }
  const std::string name = JoinArguments(words, 0, words.size() - 1);
  const std::string& reason = words.back();

  const int slot = FindClientByName(name);
  if (slot != 0 && Client(slot).Address != call.PeerAddress) {
    WriteLog("ERROR: ban of \"" + name + "\" refused: sent from " + call.PeerAddress + ", client connected from " +
             Client(slot).Address);
    call.ReplyText = {"rpl:false"};
    ++Metrics.BanRefusals;
  } else {
    // An unknown name is left to EnforceBan, which logs it and refuses.
    const bool banned = EnforceBan(rcon, name, call.PeerAddress, reason, Settings.BanTime);
    call.ReplyText = {banned ? "rpl:true" : "rpl:false"};
    if (!banned) ++Metrics.BanRefusals;
  }
  busy.Release();
  call.SendCommandReply();
}
