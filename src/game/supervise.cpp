// The supervision cycle: every 30 ticks the main loop asks the game server for
// its players ("zelk_stat 1"), rebuilds the player table from the answer, kicks
// every player who has neither a live client nor an allow-list entry, counts
// one more silent period for every client and drops the clients that have been
// silent for more than three runs.
//
// The status answer is read as backslash-enclosed fields: header field 2 is the
// game server's status mark; after the fourth backslash come name and address
// fields in pairs, the address being "ip:port" or a bare ip.
//
// A run holds BusyFlag from its start to its end, remote-console exchanges
// included, so no command handler touches the tables meanwhile.
#include "game/supervise.h"

#include <cstdint>
#include <exception>
#include <string>

#include "base/limits.h"
#include "base/numbers.h"
#include "base/settings.h"
#include "game/rcon_limits.h"
#include "game/status_mark.h"
#include "game/text_fields.h"
#include "log/logs.h"
#include "registry/busy_flag.h"
#include "registry/tables.h"

std::string StatusMark;

namespace {

// The text after the fourth backslash (the player list); the text stays as it
// is once no backslash is left.
std::string CutHeader(std::string text) {
  for (int i = 0; i < 4; ++i) {
    const size_t slash = text.find('\\');
    if (slash != std::string::npos) text.erase(0, slash + 1);
  }
  return text;
}

// Rebuilds the player table from the pairs of the player list.
void AddPlayers(const std::string& list, uint8_t fields) {
  for (unsigned k = 1; k + 1 <= fields; k += 2) {
    const std::string name = ExtractBackslashed(list, static_cast<uint8_t>(k));
    const std::string field = ExtractBackslashed(list, static_cast<uint8_t>(k + 1));
    const size_t colon = field.find(':');
    const std::string address = colon == std::string::npos ? field : field.substr(0, colon);
    const std::string port = colon == std::string::npos ? "0000" : field.substr(colon + 1);
    if (AddPlayer(name, address, ParseInteger(port).value_or(0)) == 0) WriteLog("ERROR: cannot add CS Server user");
  }
}

// Whether one allow-list line lets the player in.
bool AllowLineLets(const std::string& line, const PlayerSlot& player) {
  switch (CountQuoted(line)) {
    case 1: {
      const std::string field = ExtractQuoted(line, 1);
      const size_t star = field.find('*');
      if (star == std::string::npos) return field == player.Address;
      return player.Address.starts_with(field.substr(0, star));
    }
    case 2:
      return ExtractQuoted(line, 1) == player.Address && ExtractQuoted(line, 2) == player.Name;
    default:
      return false;
  }
}

bool IsAllowed(const PlayerSlot& player, const std::vector<std::string>& allowList) {
  if (ClientCount > 0 && HasClient(player.Name, player.Address)) return true;
  bool allowed = false;
  for (const std::string& line : allowList) {
    if (AllowLineLets(line, player)) allowed = true;
  }
  return allowed;
}

// Drops the clients silent for more than kMaxMissedUpdates runs.
void DropSilentClients() {
  int progress = 0;
  try {
    for (int i = 1; i <= kTableSlots; ++i) {
      progress = 101;
      try {
        ClientSlot& slot = Client(i);
        if (slot.InUse && slot.MissedUpdates > kMaxMissedUpdates) {
          WriteLightLog("Disconnected: " + slot.Name + " ;Reason: Time out");
          RemoveClient(i);
          PrintOnlineCount();
        }
      } catch (const std::exception&) {
        WriteLog("ERROR: Unknown player time format");
      }
      progress = 102;
    }
  } catch (const std::exception&) {
    WriteLog("Global ERROR: 1; error info:" + std::to_string(progress));
  }
}

}  // namespace

void Supervise(TRconClient& rcon, const std::vector<std::string>& allowList,
               const std::function<void()>& markChanged) {
  TBusyGuard busy;

  const std::string answer = rcon.Command("zelk_stat 1");
  if (answer.empty() || answer == "sinw") {
    StatusMark = "unknown";
    return;
  }
  ResetPlayers();

  const std::string mark = ExtractBackslashed(answer, 2);
  if (mark != StatusMark) markChanged();
  StatusMark = mark.substr(0, kStatusMarkChars);

  const std::string list = CutHeader(answer);
  const uint8_t fields = CountBackslashed(list);
  if (fields % 2 != 0) return;
  AddPlayers(list, fields);

  if (PlayerCount > 0) {
    try {
      for (const PlayerSlot& player : PlayerTable) {
        if (!player.InUse || IsAllowed(player, allowList)) continue;
        rcon.Command(SupervisionKickCommand(player.Name));
      }
    } catch (const std::exception&) {
      WriteLog("Global ERROR: 3");
    }
  }

  try {
    if (ClientCount > 0) {
      for (ClientSlot& slot : ClientTable) {
        if (slot.InUse) ++slot.MissedUpdates;
      }
    }
  } catch (const std::exception&) {
    WriteLog("Global ERROR: 0");
  }

  if (ClientCount > 0) DropSilentClients();
}
