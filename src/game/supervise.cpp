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
// A run holds BusyFlag only while it works on the tables, never across a
// remote-console exchange, so client commands wait for it only briefly:
//   1. under BusyFlag, it copies the clients registered at its start;
//   2. without it, it asks the game server for its players, takes the status
//      mark (the owner's reload of the allow-list and its registry refresh run
//      here) and reads the answer;
//   3. under BusyFlag, it rebuilds the player table from the answer and decides
//      the kicks against the tables as they are then: a client that registered
//      meanwhile protects its player, a client that left meanwhile does not; it
//      counts one more silent period for the clients of step 1 still
//      registered and drops the clients silent for too long;
//   4. without it, it sends the kicks.
// Between steps the command handlers change the tables freely; step 3 sees all
// they did as one consistent picture, and they never see a half-built player
// table. Two runs never overlap (main thread only). A ban carried out during a
// run has kicked its player itself (NoteBanKick): the run's answer may be
// older than that kick, so the run leaves that player alone.
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
#include "game/supervision_report.h"
#include "game/text_fields.h"
#include "log/logs.h"
#include "platform/clock_text.h"
#include "platform/console.h"
#include "registry/listed_name.h"
#include "registry/tables.h"

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

// The players of a good answer, in list order, for the player table.
struct TListedPlayers {
  std::vector<TStatusPlayer> Players;
  // False when the run ends once the table is emptied (an odd number of
  // fields in the add-on's answer).
  bool Complete = true;
};

// The pairs of the add-on's player list.
void ListPairs(const std::string& list, uint8_t fields, std::vector<TStatusPlayer>& players) {
  for (unsigned k = 1; k + 1 <= fields; k += 2) {
    const std::string name = ExtractBackslashed(list, static_cast<uint8_t>(k));
    const std::string field = ExtractBackslashed(list, static_cast<uint8_t>(k + 1));
    const size_t colon = field.find(':');
    const std::string address = colon == std::string::npos ? field : field.substr(0, colon);
    const std::string port = colon == std::string::npos ? "0000" : field.substr(colon + 1);
    players.push_back({name, address, ParseInteger(port).value_or(0), 0, PlayerKind::Player});
  }
}

// Rebuilds the player table from the list.
void RebuildPlayers(const TBusyGuard& busy, const std::vector<TStatusPlayer>& players) {
  ResetPlayers(busy);
  for (const TStatusPlayer& player : players) {
    if (AddPlayer(busy, player.Name, player.Address, player.Port, player.UserId) == 0) {
      WriteLog("ERROR: cannot add CS Server user");
    }
  }
}

// What the game server answered for its players, and which list it is.
struct TPlayerAnswer {
  PlayerListSource Source = PlayerListSource::None;
  std::string Text;
};

// Says which list the players are read from, once and whenever it changes.
void NoteListSource(TSupervisionMemory& memory, PlayerListSource source) {
  if (source == memory.PlayerList) return;
  memory.PlayerList = source;
  platform::ConsoleLine(source == PlayerListSource::Engine
                            ? "Players are read from the game server's status list (no zelk_stat add-on answered)"
                            : "Players are read from the zelk_stat add-on");
}

// Asks for the players as "status_query" says: the add-on's "zelk_stat 1"
// first, and in "auto" the engine's "status" when the add-on answered the
// empty text. nullopt for a failed request (no answer, or an empty one where
// no fallback is allowed).
std::optional<TPlayerAnswer> AskPlayers(const SettingsRecord& settings, TRconClient& rcon) {
  if (settings.StatusQueryMode != StatusQuery::Status) {
    RconResult addon = rcon.Exchange("zelk_stat 1");
    if (addon.Outcome != RconOutcome::Answered) return std::nullopt;
    if (!addon.Text.empty()) return TPlayerAnswer{PlayerListSource::Addon, std::move(addon.Text)};
    if (settings.StatusQueryMode == StatusQuery::Addon) return std::nullopt;
  }
  RconResult status = rcon.Exchange("status");
  if (status.Outcome != RconOutcome::Answered || status.Text.empty()) return std::nullopt;
  return TPlayerAnswer{PlayerListSource::Engine, std::move(status.Text)};
}

// Takes a new mark: the owner reloads and refreshes when it changed.
void TakeMark(TSupervisionMemory& memory, const std::string& mark, const std::function<void()>& markChanged) {
  if (mark != memory.StatusMark) markChanged();
  memory.StatusMark = mark.substr(0, kStatusMarkChars);
}

// The add-on's backslash answer: takes its mark and lists its players.
// Without BusyFlag.
TListedPlayers ReadAddonList(TSupervisionMemory& memory, const std::string& answer,
                             const std::function<void()>& markChanged) {
  TakeMark(memory, ExtractBackslashed(answer, 2), markChanged);
  if (answer.find('\\') != std::string::npos) NoteListSource(memory, PlayerListSource::Addon);
  const std::string list = CutHeader(answer);
  const uint8_t fields = CountBackslashed(list);
  TListedPlayers listed;
  if (fields % 2 != 0) {
    listed.Complete = false;
  } else {
    ListPairs(list, fields, listed.Players);
  }
  return listed;
}

// The engine's status list, the map as the mark. nullopt when the text is no
// status list (a refusal): a failed request then. Without BusyFlag.
std::optional<TListedPlayers> ReadEngineList(TSupervisionMemory& memory, const std::string& answer,
                                             const std::function<void()>& markChanged, TSupervisionReport& report) {
  std::optional<TEngineStatus> status = ParseEngineStatus(answer);
  if (!status) {
    memory.StatusMark = "unknown";
    return std::nullopt;
  }
  NoteListSource(memory, PlayerListSource::Engine);
  TakeMark(memory, status->Map, markChanged);
  for (const TStatusPlayer& other : status->LeftOut) {
    report.Players.push_back({other.Name, other.Address, other.Port, other.UserId, other.Kind, Protection::None});
  }
  return TListedPlayers{std::move(status->Players), true};
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

Protection ProtectionOf(const TBusyGuard& busy, const PlayerSlot& player, const std::vector<std::string>& allowList) {
  if (busy.ClientCount() > 0 && HasClient(busy, player.Name, player.Address)) return Protection::Client;
  bool allowed = false;
  for (const std::string& line : allowList) {
    if (AllowLineLets(line, player)) allowed = true;
  }
  return allowed ? Protection::AllowList : Protection::None;
}

void RememberSilenced(TSupervisionMemory& memory, const std::string& name, const std::string& address) {
  std::vector<std::pair<std::string, std::string>>& silenced = memory.Silenced;
  if (silenced.size() >= static_cast<size_t>(kTableSlots)) silenced.erase(silenced.begin());
  silenced.emplace_back(name, address);
}

// Whether a ban since the last kick pass kicks this player.
bool KickedByBan(const TBusyGuard&, const TSupervisionMemory& memory, const PlayerSlot& player) {
  return std::any_of(memory.KickedByBan.begin(), memory.KickedByBan.end(),
                     [&](const std::string& banned) { return ListedAs(player.Name, banned); });
}

// Why a player who is not allowed is kicked, counted in the metrics.
std::string KickReason(const TBusyGuard& busy, TSupervisionMemory& memory, const PlayerSlot& player) {
  std::vector<std::pair<std::string, std::string>>& silenced = memory.Silenced;
  const auto was = std::find(silenced.begin(), silenced.end(), std::make_pair(player.Name, player.Address));
  if (was != silenced.end()) {
    silenced.erase(was);
    ++Metrics.KicksClientSilent;
    return "anti-cheat client went silent";
  }
  if (const int slot = FindClientListedAs(busy, player.Name); slot != 0) {
    ++Metrics.KicksClientElsewhere;
    return "anti-cheat client of that name connected from " + busy.Client(slot).Address;
  }
  ++Metrics.KicksNoClient;
  return "no anti-cheat client";
}

// A client registered at the start of a run: counted silent for the run only
// if the same client still holds the slot when the run has its answer.
struct TRegisteredClient {
  int Slot = 0;
  std::string Name;
  std::string Address;
};

// The clients in use now.
std::vector<TRegisteredClient> RegisteredClients(const TBusyGuard& busy) {
  std::vector<TRegisteredClient> clients;
  for (int i = 1; i <= kTableSlots; ++i) {
    const ClientSlot& slot = busy.Client(i);
    if (slot.InUse) clients.push_back({i, slot.Name, slot.Address});
  }
  return clients;
}

// A kick decided under BusyFlag, sent after it is released.
struct TKick {
  std::string Command;
  std::string Name;
  std::string Address;
  std::string Reason;
};

// Drops the clients silent for more than kMaxMissedUpdates runs.
void DropSilentClients(const TBusyGuard& busy, TSupervisionMemory& memory) {
  int progress = 0;
  try {
    for (int i = 1; i <= kTableSlots; ++i) {
      progress = 101;
      try {
        ClientSlot& slot = busy.Client(i);
        if (slot.InUse && slot.MissedUpdates > kMaxMissedUpdates) {
          WriteLightLog("Disconnected: " + slot.Name + " ;Reason: Time out");
          RememberSilenced(memory, slot.Name, slot.Address);
          RemoveClient(busy, i);
          PrintOnlineCount(busy);
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

void TSupervision::NoteBanKick(const TBusyGuard&, const std::string& name) {
  std::vector<std::string>& kickedByBan = memory_.KickedByBan;
  if (kickedByBan.size() >= static_cast<size_t>(kTableSlots)) kickedByBan.erase(kickedByBan.begin());
  kickedByBan.push_back(name);
}

void TSupervision::Run(const std::vector<std::string>& allowList, const std::function<void()>& markChanged) {
  ++Metrics.SupervisionRuns;
  TSupervisionReport report;
  // Every way out of the run leaves its report for the web console.
  struct TPublishOnExit {
    TSupervisionReport& Report;
    TRconClient& Rcon;
    const TSupervisionMemory& Memory;
    TLastSupervisionReport& Last;
    ~TPublishOnExit() {
      Report.AtUnixSeconds = platform::UnixSeconds();
      Report.Health = Rcon.Health();
      Report.Mark = Memory.StatusMark;
      Report.List = Memory.PlayerList == PlayerListSource::Engine  ? "status"
                    : Memory.PlayerList == PlayerListSource::Addon ? "addon"
                                                                   : "";
      Last.Publish(std::move(Report));
    }
  } publish{report, rcon_, memory_, report_};

  // Step 1, under BusyFlag: the clients registered now.
  std::vector<TRegisteredClient> registered;
  {
    TBusyGuard busy(tables_);
    registered = RegisteredClients(busy);
  }

  // Step 2, without BusyFlag: the exchanges with the game server, the mark
  // (and with it the owner's reload and refresh), the answer read.
  const std::optional<TPlayerAnswer> answer = AskPlayers(settings_, rcon_);
  if (!answer) {
    memory_.StatusMark = "unknown";
    return;
  }
  std::optional<TListedPlayers> listed;
  if (answer->Source == PlayerListSource::Engine) {
    listed = ReadEngineList(memory_, answer->Text, markChanged, report);
    if (!listed) return;
  } else {
    listed = ReadAddonList(memory_, answer->Text, markChanged);
  }

  // Step 3, under BusyFlag: the player table, the kick decisions, the silence
  // count and the time-outs, all against the tables as they are now. The hold
  // ends before any kick goes out.
  std::vector<TKick> kicks;
  {
    TBusyGuard busy(tables_);
    RebuildPlayers(busy, listed->Players);
    if (!listed->Complete) return;
    report.Answered = true;

    if (busy.PlayerCount() > 0) {
      try {
        for (const PlayerSlot& player : busy.Players()) {
          if (!player.InUse || KickedByBan(busy, memory_, player)) continue;
          const Protection by = ProtectionOf(busy, player, allowList);
          report.Players.push_back(
              {player.Name, player.Address, player.Port, player.UserId, PlayerKind::Player, by});
          if (by != Protection::None) continue;
          kicks.push_back({SupervisionKickCommand(settings_, player.Name, player.UserId), player.Name,
                           player.Address, KickReason(busy, memory_, player)});
          report.Kicks.push_back({player.Name, player.Address, kicks.back().Reason});
        }
      } catch (const std::exception&) {
        WriteLog("Global ERROR: 3");
      }
    }
    // Each ban's player was left alone by this pass; later runs read lists
    // made after the ban's kick.
    memory_.KickedByBan.clear();

    try {
      for (const TRegisteredClient& was : registered) {
        ClientSlot& slot = busy.Client(was.Slot);
        if (slot.InUse && slot.Name == was.Name && slot.Address == was.Address) ++slot.MissedUpdates;
      }
    } catch (const std::exception&) {
      WriteLog("Global ERROR: 0");
    }

    if (busy.ClientCount() > 0) DropSilentClients(busy, memory_);
  }

  // Step 4, without BusyFlag: the kicks, one exchange each. A player who left
  // or got a client meanwhile only draws the game server's "not found" or is
  // let back in at the next run.
  try {
    for (const TKick& kick : kicks) {
      rcon_.Command(kick.Command);
      WriteEvent("Kicked \"" + NeutraliseRconText(kick.Name) + "\" (" + kick.Address + "): " + kick.Reason +
                     ", not on the allow-list",
                 EventLogs::FullAndShort);
    }
  } catch (const std::exception&) {
    WriteLog("Global ERROR: 3");
  }
}
