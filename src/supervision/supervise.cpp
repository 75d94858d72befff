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
//
// Bans reach players who are already playing: step 2 also looks up, in the
// ban base in use, the identifiers of the clients of step 1 and of the
// connects refused for a ban, so a ban made anywhere (here, by hand, by
// another process, at another server of a shared base) kicks its player at
// the next run, with its time left and reason. After a start the startup
// grace holds back every other kick until the clients had time to reconnect.
// A kick the game server did not take is logged as not delivered, and the
// player is kicked again at the next run.
#include "supervision/supervise.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "base/limits.h"
#include "base/numbers.h"
#include "base/settings.h"
#include "base/metrics.h"
#include "bans/ban_base.h"
#include "rcon/engine_status.h"
#include "rcon/rcon_limits.h"
#include "supervision/supervision_report.h"
#include "rcon/text_fields.h"
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
void RebuildPlayers(const TBusyGuard& busy, const std::vector<TStatusPlayer>& players) REQUIRES(busy.Flag()) {
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
                                             const std::function<void()>& markChanged, TSupervisionReport& report,
                                             const std::function<void(const std::string&)>& hostnameListener) {
  std::optional<TEngineStatus> status = ParseEngineStatus(answer);
  if (!status) return std::nullopt;
  if (hostnameListener && !status->Hostname.empty()) hostnameListener(status->Hostname);
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

Protection ProtectionOf(const TBusyGuard& busy, const PlayerSlot& player, const std::vector<std::string>& allowList)
    REQUIRES(busy.Flag()) {
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

// A kick decided under BusyFlag, sent after it is released; counted in
// Counter once the game server took it.
struct TKick {
  std::string Command;
  std::string Name;
  std::string Address;
  std::string Reason;
  std::atomic<uint64_t>* Counter = nullptr;
  bool ForBan = false;  // logged as a ban refusal, not as a player without a client
};

// The kick of a player who is not allowed, and why.
TKick NoClientKick(const TBusyGuard& busy, TSupervisionMemory& memory, const PlayerSlot& player) REQUIRES(busy.Flag()) {
  TKick kick{"", player.Name, player.Address, "no anti-cheat client", &Metrics.KicksNoClient};
  std::vector<std::pair<std::string, std::string>>& silenced = memory.Silenced;
  const auto was = std::find(silenced.begin(), silenced.end(), std::make_pair(player.Name, player.Address));
  if (was != silenced.end()) {
    silenced.erase(was);
    kick.Reason = "anti-cheat client went silent";
    kick.Counter = &Metrics.KicksClientSilent;
  } else if (const int slot = FindClientListedAs(busy, player.Name); slot != 0) {
    kick.Reason = "anti-cheat client of that name connected from " + busy.Client(slot).Address;
    kick.Counter = &Metrics.KicksClientElsewhere;
  }
  return kick;
}

const TBanFinding* BanOf(const TBanFindings& findings, const std::string& identifier) {
  const auto found = findings.find(identifier);
  return found != findings.end() ? &found->second : nullptr;
}

// The kick of a banned player, with the ban's time left and reason.
TKick BanKick(const SettingsRecord& settings, const PlayerSlot& player, const std::string& identifier,
              const TBanFinding& ban) {
  const std::string left = TimeLeftText(ban.MinutesLeft == 0 ? "p" : std::to_string(ban.MinutesLeft));
  TKick kick{BanKickCommand(settings, player.Name, player.UserId, DurationText(ban.MinutesLeft), ban.Reason,
                            ban.MinutesLeft),
             player.Name, player.Address,
             "ID " + identifier + " is banned (" + left + ")" + (ban.Reason.empty() ? "" : ": " + ban.Reason),
             &Metrics.KicksBanned, true};
  return kick;
}

// The refused connect of this player, if any: the same address, a name the
// game server lists as the player's.
const TSupervisionMemory::TBanRefusal* RefusalOf(const TSupervisionMemory& memory, const PlayerSlot& player) {
  for (const TSupervisionMemory::TBanRefusal& refusal : memory.BanRefusals) {
    if (refusal.Address == player.Address && ListedAs(player.Name, refusal.Name)) return &refusal;
  }
  return nullptr;
}

// A client registered at the start of a run: counted silent for the run only
// if the same client still holds the slot when the run has its answer.
struct TRegisteredClient {
  int Slot = 0;
  std::string Name;
  std::string Address;
  std::string Identifier;
};

// The clients in use now.
std::vector<TRegisteredClient> RegisteredClients(const TBusyGuard& busy) REQUIRES(busy.Flag()) {
  std::vector<TRegisteredClient> clients;
  for (int i = 1; i <= kTableSlots; ++i) {
    const ClientSlot& slot = busy.Client(i);
    TMutexLock guard(slot.Guard);
    if (slot.InUse) clients.push_back({i, slot.Name, slot.Address, slot.Identifier});
  }
  return clients;
}

// Sends one kick; logs and counts it as delivered only when the game server
// took the command (a real one answers every command it executes).
void SendKick(TRconClient& rcon, const TKick& kick, TSupervisionReport& report) {
  const RconOutcome outcome = rcon.Exchange(kick.Command).Outcome;
  const std::string who = "\"" + NeutraliseRconText(kick.Name) + "\" (" + kick.Address + ")";
  if (outcome != RconOutcome::Answered) {
    ++Metrics.KicksNotDelivered;
    WriteEvent("Kick of " + who + " not delivered (" + RconOutcomeText(outcome) + "): " + kick.Reason +
                   "; tried again at the next run",
               EventLogs::FullAndShort);
    return;
  }
  ++*kick.Counter;
  report.Kicks.push_back({kick.Name, kick.Address, kick.Reason});
  WriteEvent(kick.ForBan ? "Ban refusal: kicked " + who + ", " + kick.Reason
                         : "Kicked " + who + ": " + kick.Reason + ", not on the allow-list",
             EventLogs::FullAndShort);
}

// Drops the clients silent for more than kMaxMissedUpdates runs.
void DropSilentClients(const TBusyGuard& busy, TSupervisionMemory& memory) REQUIRES(busy.Flag()) {
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

void TSupervision::NoteBanRefusal(const TBusyGuard&, const std::string& name, const std::string& address,
                                  const std::string& identifier) {
  std::vector<TSupervisionMemory::TBanRefusal>& refusals = memory_.BanRefusals;
  std::erase_if(refusals, [&](const auto& refusal) { return refusal.Name == name && refusal.Address == address; });
  if (refusals.size() >= static_cast<size_t>(kTableSlots)) refusals.erase(refusals.begin());
  refusals.push_back({name, address, identifier});
}

void TSupervision::BeginStartupGrace(std::chrono::milliseconds length) {
  if (length.count() <= 0) return;
  graceEnds_ = std::chrono::steady_clock::now() + length;
  graceActive_ = true;
  graceEndText_ = platform::TimeTextIn(std::chrono::ceil<std::chrono::seconds>(length).count());
  platform::ConsoleLine("Startup grace: players without an anti-cheat client are not kicked before " + graceEndText_ +
                        ", so that their clients can reconnect first (startup_grace); banned players are kicked "
                        "at once");
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

  if (graceActive_ && std::chrono::steady_clock::now() >= graceEnds_) {
    graceActive_ = false;
    platform::ConsoleLine("Startup grace over: players without an anti-cheat client are kicked from now on");
  }
  const bool inGrace = graceActive_;

  // Step 1, under BusyFlag: the clients registered now, and the identifiers
  // to look up (theirs and the refused ones).
  std::vector<TRegisteredClient> registered;
  std::set<std::string> identifiers;
  {
    TBusyGuard busy(tables_);
    registered = RegisteredClients(busy);
    for (const TRegisteredClient& client : registered) identifiers.insert(client.Identifier);
    for (const auto& refusal : memory_.BanRefusals) identifiers.insert(refusal.Identifier);
  }

  // Step 2, without BusyFlag: the exchanges with the game server, the mark
  // (and with it the owner's reload and refresh), the answer read, the bans.
  // A failed request keeps the mark, so the next good run reloads nothing.
  const std::optional<TPlayerAnswer> answer = AskPlayers(settings_, rcon_);
  if (!answer) return;
  std::optional<TListedPlayers> listed;
  if (answer->Source == PlayerListSource::Engine) {
    listed = ReadEngineList(memory_, answer->Text, markChanged, report, hostnameListener_);
    if (!listed) return;
  } else {
    listed = ReadAddonList(memory_, answer->Text, markChanged);
  }
  const TBanFindings bans = banCheck_ ? banCheck_(identifiers) : TBanFindings();

  // Step 3, under BusyFlag: the player table, the kick decisions, the silence
  // count and the time-outs, all against the tables as they are now. The hold
  // ends before any kick goes out.
  std::vector<TKick> kicks;
  int heldBack = 0;
  {
    TBusyGuard busy(tables_);
    RebuildPlayers(busy, listed->Players);
    if (!listed->Complete) return;
    report.Answered = true;

    if (busy.PlayerCount() > 0) {
      try {
        for (const PlayerSlot& player : busy.Players()) {
          if (!player.InUse || KickedByBan(busy, memory_, player)) continue;
          Protection by = ProtectionOf(busy, player, allowList);
          std::optional<TKick> kick;
          if (by == Protection::Client) {
            // A client banned since it registered: the player goes, and so
            // does the client, which the ban refuses at its next connect.
            const int slot = FindClientOfPlayer(busy, player.Name, player.Address);
            const std::string identifier = busy.Client(slot).Identifier;
            if (const TBanFinding* ban = BanOf(bans, identifier)) {
              kick = BanKick(settings_, player, identifier, *ban);
              WriteLightLog("Disconnected: " + busy.Client(slot).Name + " ;Reason: banned");
              // Kept as a refusal: should this kick not get through, the
              // next run kicks the player for the ban again.
              NoteBanRefusal(busy, busy.Client(slot).Name, busy.Client(slot).Address, identifier);
              RemoveClient(busy, slot);
              PrintOnlineCount(busy);
            }
          } else if (by == Protection::None) {
            const TSupervisionMemory::TBanRefusal* refusal = RefusalOf(memory_, player);
            if (const TBanFinding* ban = refusal ? BanOf(bans, refusal->Identifier) : nullptr) {
              kick = BanKick(settings_, player, refusal->Identifier, *ban);
            } else if (inGrace) {
              by = Protection::Grace;
              ++heldBack;
            } else {
              kick = NoClientKick(busy, memory_, player);
              kick->Command = SupervisionKickCommand(settings_, player.Name, player.UserId);
            }
          }
          report.Players.push_back({player.Name, player.Address, player.Port, player.UserId, PlayerKind::Player,
                                    kick ? Protection::None : by});
          if (kick) kicks.push_back(std::move(*kick));
        }
      } catch (const std::exception&) {
        WriteLog("Global ERROR: 3");
      }
    }
    // Each ban's player was left alone by this pass; later runs read lists
    // made after the ban's kick.
    memory_.KickedByBan.clear();
    // A refusal is kept while its ban is in force and its player may come
    // (every refusal of step 1 was looked up).
    if (banCheck_) {
      std::erase_if(memory_.BanRefusals, [&](const auto& refusal) {
        return identifiers.contains(refusal.Identifier) && BanOf(bans, refusal.Identifier) == nullptr;
      });
    }

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
  if (heldBack > 0) {
    platform::ConsoleLine("Startup grace: " + std::to_string(heldBack) + (heldBack == 1 ? " player" : " players") +
                          " without an anti-cheat client left alone until " + graceEndText_);
  }

  // Step 4, without BusyFlag: the kicks, one exchange each. A player who left
  // or got a client meanwhile only draws the game server's "not found" or is
  // let back in at the next run.
  try {
    for (const TKick& kick : kicks) SendKick(rcon_, kick, report);
  } catch (const std::exception&) {
    WriteLog("Global ERROR: 3");
  }
}
