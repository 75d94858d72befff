// HandleScreenDatagram: ties a piece of a screenshot to the client that
// announced it (by the sender's IPv4 address alone), appends it to the slot's
// buffer and writes the file once the announced size is reached.
//
// The handler keeps a progress code that it raises at fixed points; any
// failure is written to the full log with the code current at that moment, and
// the reply prepared so far is still sent.
//
// Locking: the handler never takes BusyFlag. It finds the slot with
// FindScreenSender, then holds that slot's Guard (a TClientSlotLock) while it
// reads and changes the screenshot fields, re-checking first that the slot still has a transfer from
// this address (a command may have changed it in between). The file itself is
// written without the Guard, from the complete buffer moved out of the slot
// (the transfer stays open, and counted, until the file is written), so that
// a slow disk never stalls the commands that look at the slots. The file is
// written under a temporary name and renamed when whole: a failed save leaves
// nothing behind.
#include "screens/screen_receiver.h"

#include <cstdint>
#include <exception>
#include <optional>

#include "base/limits.h"
#include "base/metrics.h"
#include "log/logs.h"
#include "platform/clock_text.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/program_dir.h"
#include "registry/tables.h"

namespace {

// What the handler takes out of the slot when a file is complete.
struct CompletedScreen {
  ScreenBuffer Data;
  std::string Identifier;
  uint32_t Transfer = 0;  // the slot's ScreenTransfer it belongs to
};

// What became of a piece while the slot's Guard was held.
enum class PieceOutcome { NoTransfer, WrongLength, Appended, Complete, Overrun, NoMemory };

void LogFailure(int progress) {
  WriteLog("Error [screen receiving module]: error code " + std::to_string(progress));
}

// Takes one piece; caller holds the slot's Guard. Checks that the slot still has a
// transfer from address and that the piece has a length the transfer allows,
// ends the transfer when the piece would run past the announced size (or
// memory runs out), appends it, and once the announced size is reached moves
// the whole buffer out into completed. Raises progress to 1 .. 5.
PieceOutcome TakePiece(TTables& tables, ClientSlot& slot, const std::string& address, const std::string& piece, int& progress,
                       CompletedScreen& completed) REQUIRES(slot.Guard) {
  if (!slot.InUse || !slot.ScreenPending || slot.Address != address) return PieceOutcome::NoTransfer;
  progress = 1;
  const int32_t size = slot.ScreenSize;
  progress = 2;
  // The short piece is the announced size modulo 30 with the sign of the size
  // (truncating division), and is accepted at any point of the transfer.
  const auto length = static_cast<int64_t>(piece.size());
  if (length != static_cast<int64_t>(kScreenPieceBytes) && length != size % static_cast<int32_t>(kScreenPieceBytes)) {
    return PieceOutcome::WrongLength;
  }
  progress = 3;
  // A piece that would run past the announced size can never make the file
  // complete; it ends the transfer so that a client cannot make the buffer grow
  // without bound.
  if (static_cast<int64_t>(slot.ScreenData.Position) + length > size) {
    SetScreenPending(tables, slot, false);
    slot.ScreenData.Clear();
    slot.ScreenSize = 0;
    return PieceOutcome::Overrun;
  }
  if (!slot.ScreenData.Write(piece)) {
    SetScreenPending(tables, slot, false);
    slot.ScreenData.Clear();
    slot.ScreenSize = 0;
    return PieceOutcome::NoMemory;
  }
  progress = 4;
  if (static_cast<int64_t>(slot.ScreenData.Size()) != slot.ScreenSize) return PieceOutcome::Appended;
  progress = 5;
  completed.Data = std::move(slot.ScreenData);
  completed.Identifier = slot.Identifier;
  completed.Transfer = slot.ScreenTransfer;
  return PieceOutcome::Complete;
}

}  // namespace

std::string MakeFileNameSafe(const std::string& text) {
  std::string safe = text;
  for (char& c : safe) {
    switch (c) {
      case '\\':
      case '/':
      case ':':
      case '*':
      case '?':
      case '"':
      case '<':
      case '>':
      case '|':
        c = '.';
        break;
      default:
        break;
    }
  }
  return safe;
}

std::string ScreenRootDirectory(const SettingsRecord& settings) {
  return settings.ScreenDir.empty() ? platform::DataDirectory() + "zelk_screens/" : settings.ScreenDir;
}

namespace {

// The directory for the sender's files, created one level at a time. A level
// that cannot be made shows up as a failed save. Raises progress to 6 .. 12.
std::string ScreenPrefix(const std::string& screenDir, const std::string& address, int& progress) {
  if (!screenDir.empty()) {
    progress = 6;
    const std::string& dir = screenDir;  // ends in "/"
    if (!platform::DirectoryExists(dir)) platform::MakeDirectory(dir);
    progress = 7;
    if (!platform::DirectoryExists(dir + address)) platform::MakeDirectory(dir + address);
    progress = 8;
    std::string prefix = dir + address + "/";
    progress = 9;
    return prefix;
  }
  const std::string root = platform::DataDirectory() + "zelk_screens";
  if (!platform::DirectoryExists(root)) platform::MakeDirectory(root);
  progress = 10;
  if (!platform::DirectoryExists(root + "/" + address)) platform::MakeDirectory(root + "/" + address);
  progress = 11;
  std::string prefix = root + "/" + address + "/";
  progress = 12;
  return prefix;
}

// Writes the complete screenshot into the sender's directory, named by date,
// time, address and identifier, whole or not at all. False when the file
// could not be written. Raises progress to 6 .. 15.
bool SaveScreen(const std::string& screenDir, const CompletedScreen& screen, const std::string& address,
                int& progress) {
  const std::string prefix = ScreenPrefix(screenDir, address, progress);
  const std::string timeText = platform::CurrentTimeText();
  const std::string dateText = platform::CurrentDateText();
  progress = 13;
  const std::string time = timeText.empty() ? "unknown_time" : MakeFileNameSafe(timeText);
  const std::string date = dateText.empty() ? "unknown_date" : MakeFileNameSafe(dateText);
  progress = 14;
  const std::string path =
      prefix + "^" + date + "^" + time + "^IP^" + address + "^ID^" + SafeIdentifier(screen.Identifier) + ".jpg";
  progress = 15;
  return platform::ReplaceFileAtomically(path, screen.Data.Bytes());
}

// Ends the transfer once its file is written. A file that could not be
// written leaves the transfer open with its bytes back in the slot, so that a
// later piece (an empty one will do) tries the save again; the client's cancel
// or departure gives the memory back. Nothing changes when the slot has moved
// on meanwhile (the transfer was cancelled, the client left, or a new transfer
// began): the bytes are then dropped with screen. Caller holds the slot's Guard.
void FinishTransfer(TTables& tables, ClientSlot& slot, const std::string& address, CompletedScreen& screen, bool saved)
    REQUIRES(slot.Guard) {
  if (!slot.InUse || !slot.ScreenPending || slot.Address != address || slot.ScreenTransfer != screen.Transfer) {
    return;
  }
  if (!saved) {
    slot.ScreenData = std::move(screen.Data);
    return;
  }
  SetScreenPending(tables, slot, false);
  slot.ScreenData.Clear();
  slot.ScreenSize = 0;
}

// The handler's work; the reply set so far is in reply whatever happens.
// False on a failure, with progress at the failing point.
bool ReceivePiece(TTables& tables, const SettingsRecord& settings, const std::string& datagram,
                  const std::string& address, int& progress, std::string& reply) {
  const int slotNumber = FindScreenSender(tables, address);
  if (slotNumber == 0) return true;
  CompletedScreen completed;
  PieceOutcome outcome = PieceOutcome::NoTransfer;
  {
    TClientSlotLock lock(tables, slotNumber);
    outcome = TakePiece(tables, lock.Slot(), address, datagram, progress, completed);
  }
  switch (outcome) {
    case PieceOutcome::NoMemory:
      return false;
    case PieceOutcome::NoTransfer:
      return true;
    case PieceOutcome::WrongLength:
      platform::ConsoleLine("aaa");
      reply = "resend";
      return true;
    case PieceOutcome::Overrun:
      if (AdmitErrorLine(address)) {
        WriteLog("Error [screen receiving module]: piece past the announced size from " + address +
                 ", transfer ended");
      }
      return true;
    case PieceOutcome::Appended:
      reply = "ok";
      return true;
    case PieceOutcome::Complete:
      reply = "ok";
      break;
  }
  const bool saved = SaveScreen(settings.ScreenDir, completed, address, progress);
  const size_t bytes = completed.Data.Size();
  {
    TClientSlotLock lock(tables, slotNumber);
    FinishTransfer(tables, lock.Slot(), address, completed, saved);
  }
  if (!saved) return false;
  progress = 16;
  platform::ConsoleLine("Screen saved");
  ++Metrics.ScreensReceived;
  Metrics.ScreenBytes += bytes;
  progress = 17;
  return true;
}

}  // namespace

std::string SafeIdentifier(const std::string& identifier) {
  return platform::WithoutControlBytes(MakeFileNameSafe(identifier));
}

std::string HandleScreenDatagram(TTables& tables, const SettingsRecord& settings, const std::string& datagram,
                                 const std::string& address) {
  int progress = 0;
  std::string reply;
  try {
    if (ReceivePiece(tables, settings, datagram, address, progress, reply)) return reply;
  } catch (const std::exception&) {
    // Running out of memory while appending or copying: report it like any
    // other failure of this datagram.
    if (progress >= 3) reply = "ok";
  }
  try {
    LogFailure(progress);
  } catch (const std::exception&) {
    // Nothing is left to tell; the reply still goes out.
  }
  return reply;
}
