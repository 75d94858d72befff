// The supervision cycle: every 30 ticks the main loop asks the game server for
// its players, rebuilds the player table from the answer, kicks every player
// who has neither a live client nor an allow-list entry, counts one more
// silent period for every client and drops the clients that have been silent
// for more than three runs.
//
// The players come from the status add-on ("zelk_stat 1") or, on a stock game
// server that answers it with nothing, from the engine's own "status" list.
// The add-on's answer is read as backslash-enclosed fields: header field 2 is
// the game server's status mark; after the fourth backslash come name and
// address fields in pairs, the address being "ip:port" or a bare ip. From the
// engine's list the map is the mark, and players are kicked by userid.
//
// A run holds BusyFlag from its start to its end, remote-console exchanges
// included, so no command handler touches the tables meanwhile.
#include "game/supervise.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "base/limits.h"
#include "base/numbers.h"
#include "base/settings.h"
#include "base/metrics.h"
#include "game/engine_status.h"
#include "game/rcon_limits.h"
#include "game/status_mark.h"
#include "game/supervision_report.h"
#include "game/text_fields.h"
#include "log/logs.h"
#include "platform/clock_text.h"
#include "platform/console.h"
#include "registry/busy_flag.h"
#include "registry/tables.h"

std::string StatusMark;
PlayerListSource PlayerList = PlayerListSource::None;

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

// What the game server answered for its players, and which list it is.
struct TPlayerAnswer {
  PlayerListSource Source = PlayerListSource::None;
  std::string Text;
};

// Says which list the players are read from, once and whenever it changes.
void NoteListSource(PlayerListSource source) {
  if (source == PlayerList) return;
  PlayerList = source;
  platform::ConsoleLine(source == PlayerListSource::Engine
                            ? "Players are read from the game server's status list (no zelk_stat add-on answered)"
                            : "Players are read from the zelk_stat add-on");
}

// Asks for the players as "status_query" says: the add-on's "zelk_stat 1"
// first, and in "auto" the engine's "status" when the add-on answered the
// empty text. nullopt for a failed request (no answer, or an empty one where
// no fallback is allowed).
std::optional<TPlayerAnswer> AskPlayers(TRconClient& rcon) {
  if (Settings.StatusQueryMode != StatusQuery::Status) {
    RconResult addon = rcon.Exchange("zelk_stat 1");
    if (addon.Outcome != RconOutcome::Answered) return std::nullopt;
    if (!addon.Text.empty()) return TPlayerAnswer{PlayerListSource::Addon, std::move(addon.Text)};
    if (Settings.StatusQueryMode == StatusQuery::Addon) return std::nullopt;
  }
  RconResult status = rcon.Exchange("status");
  if (status.Outcome != RconOutcome::Answered || status.Text.empty()) return std::nullopt;
  return TPlayerAnswer{PlayerListSource::Engine, std::move(status.Text)};
}

// Takes a new mark: the owner reloads and refreshes when it changed.
void TakeMark(const std::string& mark, const std::function<void()>& markChanged) {
  if (mark != StatusMark) markChanged();
  StatusMark = mark.substr(0, kStatusMarkChars);
}

// The add-on's backslash answer into the player table. False when the run
// ends here (an odd number of fields).
bool ReadAddonList(const std::string& answer, const std::function<void()>& markChanged) {
  ResetPlayers();
  TakeMark(ExtractBackslashed(answer, 2), markChanged);
  if (answer.find('\\') != std::string::npos) NoteListSource(PlayerListSource::Addon);
  const std::string list = CutHeader(answer);
  const uint8_t fields = CountBackslashed(list);
  if (fields % 2 != 0) return false;
  AddPlayers(list, fields);
  return true;
}

// The engine's status list into the player table, the map as the mark. False
// when the text is no status list (a refusal): a failed request then.
bool ReadEngineList(const std::string& answer, const std::function<void()>& markChanged,
                    TSupervisionReport& report) {
  const std::optional<TEngineStatus> status = ParseEngineStatus(answer);
  if (!status) {
    StatusMark = "unknown";
    return false;
  }
  NoteListSource(PlayerListSource::Engine);
  ResetPlayers();
  TakeMark(status->Map, markChanged);
  for (const TStatusPlayer& player : status->Players) {
    if (AddPlayer(player.Name, player.Address, player.Port, player.UserId) == 0) {
      WriteLog("ERROR: cannot add CS Server user");
    }
  }
  for (const TStatusPlayer& other : status->LeftOut) {
    report.Players.push_back({other.Name, other.Address, other.Port, other.UserId, other.Kind, Protection::None});
  }
  return true;
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

Protection ProtectionOf(const PlayerSlot& player, const std::vector<std::string>& allowList) {
  if (ClientCount > 0 && HasClient(player.Name, player.Address)) return Protection::Client;
  bool allowed = false;
  for (const std::string& line : allowList) {
    if (AllowLineLets(line, player)) allowed = true;
  }
  return allowed ? Protection::AllowList : Protection::None;
}

// The clients dropped for silence whose players have not been kicked yet, so
// that the kick can say why (main thread only). Bounded by the table's size:
// the oldest goes first.
std::vector<std::pair<std::string, std::string>> silenced;

void RememberSilenced(const std::string& name, const std::string& address) {
  if (silenced.size() >= static_cast<size_t>(kTableSlots)) silenced.erase(silenced.begin());
  silenced.emplace_back(name, address);
}

// Why a player who is not allowed is kicked, counted in the metrics. Caller
// holds BusyFlag.
std::string KickReason(const PlayerSlot& player) {
  const auto was = std::find(silenced.begin(), silenced.end(), std::make_pair(player.Name, player.Address));
  if (was != silenced.end()) {
    silenced.erase(was);
    ++Metrics.KicksClientSilent;
    return "anti-cheat client went silent";
  }
  if (const int slot = FindClientByName(player.Name); slot != 0) {
    ++Metrics.KicksClientElsewhere;
    return "anti-cheat client of that name connected from " + Client(slot).Address;
  }
  ++Metrics.KicksNoClient;
  return "no anti-cheat client";
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
          RememberSilenced(slot.Name, slot.Address);
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
  ++Metrics.SupervisionRuns;
  TSupervisionReport report;
  // Every way out of the run leaves its report for the web console.
  struct TPublishOnExit {
    TSupervisionReport& Report;
    TRconClient& Rcon;
    ~TPublishOnExit() {
      Report.AtUnixSeconds = platform::UnixSeconds();
      Report.Health = Rcon.Health();
      Report.Mark = StatusMark;
      Report.List = PlayerList == PlayerListSource::Engine  ? "status"
                    : PlayerList == PlayerListSource::Addon ? "addon"
                                                            : "";
      PublishSupervisionReport(std::move(Report));
    }
  } publish{report, rcon};

  const std::optional<TPlayerAnswer> answer = AskPlayers(rcon);
  if (!answer) {
    StatusMark = "unknown";
    return;
  }
  if (answer->Source == PlayerListSource::Engine) {
    if (!ReadEngineList(answer->Text, markChanged, report)) return;
  } else if (!ReadAddonList(answer->Text, markChanged)) {
    return;
  }
  report.Answered = true;

  if (PlayerCount > 0) {
    try {
      for (const PlayerSlot& player : PlayerTable) {
        if (!player.InUse) continue;
        const Protection by = ProtectionOf(player, allowList);
        report.Players.push_back({player.Name, player.Address, player.Port, player.UserId, PlayerKind::Player, by});
        if (by != Protection::None) continue;
        rcon.Command(SupervisionKickCommand(player.Name, player.UserId));
        const std::string reason = KickReason(player);
        WriteEvent("Kicked \"" + NeutraliseRconText(player.Name) + "\" (" + player.Address + "): " + reason +
                       ", not on the allow-list",
                   EventLogs::FullAndShort);
        report.Kicks.push_back({player.Name, player.Address, reason});
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
