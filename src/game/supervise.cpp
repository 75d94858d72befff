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
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "app/limits.h"
#include "app/server.h"
#include "app/settings.h"
#include "game/rcon_limits.h"
#include "game/status_mark.h"
#include "game/text_fields.h"
#include "log/logs.h"
#include "registry/busy_flag.h"
#include "registry/tables.h"

std::string StatusMark;

namespace {

// A port text as a decimal integer with an optional sign; anything else
// (letters, an empty text, a value beyond 32 bits) gives port 0.
int32_t PortOf(const std::string& text) {
  size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
  if (i == text.size()) return 0;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    value = value * 10 + (text[i] - '0');
    if (value > INT32_MAX) return 0;
  }
  return static_cast<int32_t>(text[0] == '-' ? -value : value);
}

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
    if (AddPlayer(name, address, PortOf(port)) == 0) WriteLog("ERROR: cannot add CS Server user");
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
void DropSilentClients(TServer& server) {
  int progress = 0;
  try {
    for (int i = 1; i <= kTableSlots; ++i) {
      progress = 101;
      try {
        ClientSlot& slot = Client(i);
        if (slot.InUse && slot.MissedUpdates > kMaxMissedUpdates) {
          WriteLightLog("Disconnected: " + slot.Name + " ;Reason: Time out");
          RemoveClient(i);
          server.PrintOnlineCount();
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

void TServer::Supervise() {
  TBusyGuard busy;

  const std::string answer = RconCommand("zelk_stat 1");
  if (answer.empty() || answer == "sinw") {
    StatusMark = "unknown";
    return;
  }
  ResetPlayers();

  const std::string mark = ExtractBackslashed(answer, 2);
  if (mark != StatusMark) {
    LoadAllowList();
    RefreshRegistration();
  }
  StatusMark = mark.substr(0, kStatusMarkChars);

  const std::string list = CutHeader(answer);
  const uint8_t fields = CountBackslashed(list);
  if (fields % 2 != 0) return;
  AddPlayers(list, fields);

  if (PlayerCount > 0) {
    try {
      for (const PlayerSlot& player : PlayerTable) {
        if (!player.InUse || IsAllowed(player, AllowList)) continue;
        RconCommand(SupervisionKickCommand(player.Name));
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

  if (ClientCount > 0) DropSilentClients(*this);
}
