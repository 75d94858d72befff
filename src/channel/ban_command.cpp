// "<ban>": a client reports a cheat; the named player is banned through the
// ban enforcement.
#include "channel/client_commands.h"

#include <optional>
#include <string>

#include "base/limits.h"
#include "base/metrics.h"
#include "base/settings.h"
#include "supervision/ban_enforcement.h"
#include "log/logs.h"
#include "platform/console.h"
#include "registry/tables.h"

// "<ban> name... reason". Only a connection from the address that registered
// the client may report it: from anywhere else the answer is "rpl:false",
// nothing changes, and the refusal goes to the full log with both addresses, so
// nobody who can reach the port bans players by name. An unknown name is
// refused the same way. Those two error lines count against the address's
// limit; the record of a ban carried out is always written. The reason is cut
// to kLogFieldChars bytes before the ban, so the kick, the chat line and the
// log line carry the same text. The ban's length is always BanTime. BusyFlag
// is held while the tables and the records take the ban, and released before
// the kick and the chat line go to the game server; the reply ("rpl:true"
// when the tables took the ban) is written after both went out.
void BanCmd(const TCommandContext& context, CommandCall& call) {
  TTables& tables = context.Tables;
  const SettingsRecord& settings = context.Settings;
  TBanEnforcement& bans = context.Enforcement;
  std::optional<TBanKick> kick;
  {
    TBusyGuard busy(tables);
    platform::ConsoleLine("command: ban");
    const std::vector<std::string>& words = call.Arguments;
    if (words.size() < 2) {
      call.Failed = true;
      return;
    }
    const std::string name = JoinArguments(words, 0, words.size() - 1);
    const std::string reason = words.back().substr(0, kLogFieldChars);

    call.ReplyText = {"rpl:false"};
    const int slot = FindClientByName(busy, name);
    if (slot == 0) {
      if (AdmitErrorLine(call.PeerAddress)) {
        WriteLog("ERROR: cannot find user with nickname : \"" + LogField(name) + "\"");
      }
      ++Metrics.BanRefusals;
    } else if (busy.Client(slot).Address != call.PeerAddress) {
      if (AdmitErrorLine(call.PeerAddress)) {
        WriteLog("ERROR: ban of \"" + LogField(name) + "\" refused: sent from " + call.PeerAddress +
                 ", client connected from " + busy.Client(slot).Address);
      }
      ++Metrics.BanRefusals;
    } else if ((kick = bans.TakeBan(busy, name, call.PeerAddress, reason, settings.BanTime))) {
      call.ReplyText = {"rpl:true"};
    } else {
      ++Metrics.BanRefusals;
    }
  }
  // BusyFlag is free: a supervision run or a client command may work on the
  // tables while these exchanges wait for the game server (the rcon client
  // keeps them one at a time).
  if (kick) bans.SendBanKick(*kick);
}
