// "<start_screen>" and "<check_screen>". Both follow the shape of every command
// handler: take BusyFlag, set the default reply, rebuild the player name from
// all parameters but the last, read the last as a number, act, and return
// with the reply filled in; the dispatcher writes it after the guard released
// BusyFlag.
//
// The screen receiver works on the same slot fields from its own thread
// without BusyFlag, so every read or change of them here also holds the slot's
// Guard, briefly, after BusyFlag (never the other way round).
#include "channel/screen_commands.h"

#include <cstdint>
#include <optional>

#include "base/limits.h"
#include "base/numbers.h"
#include "platform/console.h"
#include "registry/tables.h"

namespace {

// The player name: the parameters from the first to the second-from-last,
// joined with single blanks.
std::string NameFromArguments(const std::vector<std::string>& arguments) {
  return arguments.empty() ? std::string() : JoinArguments(arguments, 0, arguments.size() - 1);
}

// Opens a transfer on the slot unless one is under way from this slot or from
// the command's address, or the transfers under way would hold more than
// kMaxScreenTotalBytes with it. The memory for the announced size is mapped
// now (it counts once written). Under BusyFlag, which keeps any other
// thread from opening a transfer meanwhile; the receiver may only end one.
bool OpenTransfer(const TBusyGuard& busy, int slotNumber, int32_t size, const std::string& peerAddress)
    REQUIRES(busy.Flag()) {
  if (IsScreenPendingFrom(busy.Tables(), peerAddress)) return false;
  if (PendingScreenBytes(busy) + size > kMaxScreenTotalBytes) return false;
  ClientSlot& slot = busy.Client(slotNumber);
  TMutexLock guard(slot.Guard);
  if (slot.ScreenPending) return false;
  slot.ScreenData.Clear();
  if (!slot.ScreenData.Reserve(static_cast<size_t>(size))) return false;
  SetScreenPending(busy.Tables(), slot, true);
  slot.ScreenSize = size;
  ++slot.ScreenTransfer;
  return true;
}

}  // namespace

// Command connection thread. Takes BusyFlag. Only a connection from the
// address that registered the client acts on its transfer; from anywhere else
// the answer is "rpl:false" and nothing changes, as for "<ban>".
void ScreenCmd(const TCommandContext& context, CommandCall& call) {
  TTables& tables = context.Tables;
  TBusyGuard busy(tables);
  call.ReplyText = {"rpl:false"};
  const bool enoughArguments = call.Arguments.size() >= 2;
  const int slot = enoughArguments ? FindClientByName(busy, NameFromArguments(call.Arguments)) : 0;
  // The number is read before the slot is tested: a bad number fails the
  // command even for an unknown name.
  const std::optional<int32_t> size =
      enoughArguments ? ParseInteger(call.Arguments.back()) : std::optional<int32_t>();
  const bool own = slot != 0 && busy.Client(slot).Address == call.PeerAddress;
  call.FromClient = own;
  // A size outside 0 .. 16 MiB could never be received sensibly; refusing it
  // keeps a client from reserving a transfer that cannot end.
  if (own && size && *size >= 0 && *size <= kMaxScreenBytes && OpenTransfer(busy, slot, *size, call.PeerAddress)) {
    call.ReplyText = {"rpl:true"};
    platform::ConsoleLine("Screen transport started.");
  }
  call.Failed = !size;
}

// Command connection thread. Takes BusyFlag. From another address than the
// client's the answer is "rpl:resend" and nothing changes.
void ChkScreenCmd(const TCommandContext& context, CommandCall& call) {
  TTables& tables = context.Tables;
  TBusyGuard busy(tables);
  call.ReplyText = {"rpl:resend"};
  bool corrected = false;
  if (call.Arguments.size() >= 2) {
    int slotNumber = FindClientByName(busy, NameFromArguments(call.Arguments));
    if (slotNumber != 0 && busy.Client(slotNumber).Address != call.PeerAddress) slotNumber = 0;
    call.FromClient = slotNumber != 0;
    const std::optional<int32_t> count = slotNumber != 0 ? ParseInteger(call.Arguments.back()) : std::nullopt;
    if (count) {
      ClientSlot& slot = busy.Client(slotNumber);
      TMutexLock guard(slot.Guard);
      if (*count >= 0 && slot.ScreenData.Size() == static_cast<size_t>(*count)) {
        call.ReplyText = {"rpl:ok"};
      } else {
        // Back to the start of the current piece: the next piece overwrites
        // from there, and the size grows only past the old end.
        slot.ScreenData.Position -= slot.ScreenData.Position % kScreenPieceBytes;
        corrected = true;
      }
    }
  }
  if (corrected) platform::ConsoleLine("Correcting screen");
}
