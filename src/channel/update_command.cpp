// "<update>": a registered client's sign of life and the state of its
// screenshot sending.
#include "channel/client_commands.h"

#include <optional>
#include <string>

#include "platform/mutex.h"
#include "base/numbers.h"
#include "log/logs.h"
#include "registry/tables.h"

// "<update> name... state". Resets the client's missed-update count; a state
// whose low 8 bits are 0 cancels its screenshot transfer, and is taken only
// from the address that registered the client (from anywhere else: "rpl:false",
// nothing changes, as for "<ban>"). Answers "rpl:strue" when nothing stands in
// the way of a new transfer from this client and its player was on the last
// player list, "rpl:true" otherwise, "rpl:false" for an unknown name.
void UpdateCmd(const TCommandContext& context, CommandCall& call) {
  TTables& tables = context.Tables;
  // What depends on the line alone is worked out before BusyFlag is taken:
  // every connection's update waits for the flag, so the time it is held
  // decides how often they queue behind each other.
  call.ReplyText = {"rpl:false"};
  const std::vector<std::string>& words = call.Arguments;
  if (words.size() < 2) {
    call.Failed = true;
    return;
  }
  const std::string name = JoinArguments(words, 0, words.size() - 1);
  const std::optional<int32_t> state = ParseInteger(words.back(), NumberForm::DecimalOrHex);
  const bool cancels = state && (*state & 0xFF) == 0;

  bool listed = false;
  {
    TBusyGuard busy(tables);
    const int slot = FindClientByName(busy, name);
    if (slot == 0 || (cancels && busy.Client(slot).Address != call.PeerAddress)) return;

    ClientSlot& client = busy.Client(slot);
    // With no transfer open anywhere, none opens while this holds BusyFlag,
    // and the slot's Guard is not needed to know that its own is closed. Most
    // updates therefore write nothing to the shared slot, which keeps it in
    // every processor's cache.
    bool pending = false;
    if (cancels || tables.OpenTransfers() != 0) {
      // The screen receiver works on these fields without BusyFlag.
      TMutexLock guard(client.Guard);
      if (cancels) {
        SetScreenPending(tables, client, false);
        client.ScreenData.Clear();
      }
      pending = client.ScreenPending;
    }
    if (client.MissedUpdates != 0) client.MissedUpdates = 0;
    call.FromClient = client.Address == call.PeerAddress;
    listed = !pending && HasPlayerOfClient(busy, slot);
  }  // BusyFlag is let go here

  // Whether another client at this address is sending a screenshot is a
  // matter of the slots' own Guards, which the screen receiver changes
  // without BusyFlag; FindScreenSender takes each in turn, so it needs no
  // BusyFlag, and a screen command checks again under the flag before it
  // opens a transfer.
  const bool free = listed && FindScreenSender(tables, call.PeerAddress) == 0;
  if (!state && AdmitErrorLine(call.PeerAddress)) WriteLightLog("Error[update module]: unknow pocket");
  call.ReplyText.front() = free ? "rpl:strue" : "rpl:true";  // in place of "rpl:false"
}
