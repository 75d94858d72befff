// "<connect>" and "<disconnect>": a client enters the client table under its
// player's name and leaves it again.
#include "channel/client_commands.h"

#include <string>

#include "base/limits.h"
#include "base/metrics.h"
#include "base/settings.h"
#include "bans/ban_base.h"
#include "supervision/ban_enforcement.h"
#include "rcon/text_fields.h"
#include "log/logs.h"
#include "platform/console.h"
#include "registry/tables.h"

namespace {

// "rpl:accept", 0xFF, the screenshot flag and interval, 0xFF, the quality.
std::string AcceptLine(const SettingsRecord& settings) {
  const std::string separator(1, static_cast<char>(0xFF));
  return "rpl:accept" + separator + (settings.AllowScreens ? "1" : "0") +
         std::to_string(static_cast<int>(settings.ScreenInterval)) + separator +
         std::to_string(static_cast<int>(settings.ScreenQuality));
}

}  // namespace

// "<connect> name... identifier check". The identifier is neutralised and cut
// to its capacity before the ban lookup and the table (ClientBanIdentifier),
// so the ban base, the lookup and the slot all hold the same text: a quote in
// it can neither forge a record for someone else nor dodge a ban with a longer
// identifier. An identifier of control bytes only, which leaves nothing, fails
// the command like a missing one. A ban
// whose kick is still on its way to the game server (its record not yet
// written) refuses the identifier already. The line of a refused connect
// counts against the address's limit of error lines.
void ConnectCmd(const TCommandContext& context, CommandCall& call) {
  TTables& tables = context.Tables;
  const SettingsRecord& settings = context.Settings;
  TBanEnforcement& bans = context.Enforcement;
  TBusyGuard busy(tables);
  const std::vector<std::string>& words = call.Arguments;
  if (words.size() < 3) {
    call.Failed = true;
    return;
  }
  const std::string name = JoinArguments(words, 0, words.size() - 2);
  const std::string identifier = ClientBanIdentifier(words[words.size() - 2]);
  if (identifier.empty()) {
    call.Failed = true;
    return;
  }
  const std::string& check = words.back();
  std::string duration;

  if (check != settings.ClientId) {
    call.ReplyText = {"rpl:ccv"};
  } else if (BanLookup banned = bans.Lookup(identifier, &duration); banned != BanLookup::NotBanned) {
    // A base that cannot be read fails the command: no reply, connection closed.
    if (banned == BanLookup::Banned) {
      const std::string left = duration == "p" ? "for ever" : "(" + TimeLeftText(duration) + ")";
      if (AdmitErrorLine(call.PeerAddress)) {
        WriteEvent("Connect refused: \"" + LogField(NeutraliseRconText(name)) + "\" from " + call.PeerAddress +
                   ", ID " + LogField(identifier) + " is banned " + left);
      }
      bans.NoteRefusal(busy, name, call.PeerAddress, identifier);
      call.ReplyText = {"rpl:ban"};
      ++Metrics.ConnectsRefusedBanned;
    }
    call.Failed = banned == BanLookup::Failed;
  } else if (IsClientOnline(busy, name)) {
    call.ReplyText = {"rpl:exists"};
  } else if (int slot = AddClient(busy, name, identifier, call.PeerAddress); slot == 0) {
    call.ReplyText = {"rpl:false"};
  } else {
    // Written from the slot, so the line shows the values as cut when stored.
    const ClientSlot& client = busy.Client(slot);
    WriteLightLog("Connected: Name:\"" + LogField(client.Name) + "\";ID" + LogField(client.Identifier) +
                  ";IP:" + client.Address);
    call.ReplyText = {AcceptLine(settings)};
    call.FromClient = true;
  }
}

// "<disconnect> name...". Only a connection from the address that registered
// the client may remove it; from anywhere else the answer is "rpl:false" and
// nothing changes, so nobody can drop other players' clients by name.
void DisConnectCmd(const TCommandContext& context, CommandCall& call) {
  TTables& tables = context.Tables;
  TBusyGuard busy(tables);
  call.ReplyText = {"rpl:false"};
  platform::ConsoleLine("command: disconnect");
  if (call.Arguments.empty()) {
    call.Failed = true;
    return;
  }
  const std::string name = JoinArguments(call.Arguments, 0, call.Arguments.size());
  if (int slot = FindClientByName(busy, name); slot != 0 && busy.Client(slot).Address == call.PeerAddress) {
    RemoveClient(busy, slot);
    call.ReplyText = {"rpl:ok"};
  }
}
