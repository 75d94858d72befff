// gamesim: a game server's remote console for demos and checks. Reads a
// scenario file and answers on 127.0.0.1 until interrupted, printing each
// command it executes.
//
//   gamesim [--rate-limit N] scenario.txt
//
// --rate-limit N: connectionless datagrams answered per source address in a
// 60 s window, 180 by default as the engine; 0 switches the limit off.
//
// Scenario lines (";" starts a comment; values in double quotes):
//   port 27015                      UDP port of the remote console (0: any free
//                                   one; the first line printed names it)
//   password "secret"               rcon_password ("" for none)
//   hostname "My server"
//   slots 32                        the slot count status shows ("(32 max)")
//   mark "de_dust2"                 the map in status, header field 2 of the add-on's answer
//   player "Bob" "10.0.0.5:27005"   one line per player, in order; the name as the
//                                   player's game sends it (listed as the engine lists it)
//   bot "Bot1"                      a bot (uniqueid BOT, no address in status)
//   proxy "TV" "10.0.0.7:27020"     an HLTV proxy (uniqueid HLTV)
//   connecting "Slow"               a player still connecting (counted in status, not listed)
//   join 8 "Bob" "10.0.0.5:27005"   the player joins 8 seconds after the start
//   addons both                     add-ons present: none, status (zelk_stat),
//                                   chat (amx_tsay) or both (the default)
//   output "word" "text" 3          the command word prints the text 3 times
//                                   (the count is optional, 1 by default)
//   split reversed                  pieces of split datagrams go out last first
//   silent                          receive but never answer
#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "rcon/text_fields.h"
#include "gamesim/game_server_sim.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/stop_signal.h"

namespace {

struct TScenario {
  int Port = 27015;
  std::string Password;
  std::string Hostname = "Counter-Strike 1.6 Server";
  std::string Mark = "de_dust2";
  int Slots = 32;
  std::vector<gamesim::TSimPlayer> Players;
  struct TJoin {
    int AfterSeconds = 0;
    gamesim::TSimPlayer Player;
  };
  std::vector<TJoin> Joins;  // in order of time
  bool StatusAddon = true;
  bool ChatAddon = true;
  std::vector<std::pair<std::string, std::string>> Outputs;
  gamesim::TSplitOrder SplitOrder = gamesim::TSplitOrder::InOrder;
  bool Silent = false;
};

gamesim::TSimPlayer OfKind(const std::string& name, const std::string& address, gamesim::TSimPlayerKind kind) {
  gamesim::TSimPlayer player{name, address};
  player.Kind = kind;
  return player;
}

// The number after the last double quote of the line; 1 when there is none.
int TrailingCount(const std::string& line) {
  const std::string rest = line.substr(line.rfind('"') + 1);
  return rest.find_first_not_of(" \t\r") == std::string::npos ? 1 : std::stoi(rest);
}

bool ApplyLine(const std::string& line, TScenario& scenario) {
  using gamesim::TSimPlayerKind;
  const std::string word = line.substr(0, line.find(' '));
  const std::string value = line.size() > word.size() ? line.substr(word.size() + 1) : std::string();
  if (word == "port") {
    scenario.Port = std::stoi(value);
  } else if (word == "password") {
    scenario.Password = ExtractQuoted(line, 1);
  } else if (word == "hostname") {
    scenario.Hostname = ExtractQuoted(line, 1);
  } else if (word == "slots") {
    scenario.Slots = std::stoi(value);
  } else if (word == "mark") {
    scenario.Mark = ExtractQuoted(line, 1);
  } else if (word == "player") {
    scenario.Players.push_back({ExtractQuoted(line, 1), ExtractQuoted(line, 2)});
  } else if (word == "bot") {
    scenario.Players.push_back(OfKind(ExtractQuoted(line, 1), "", TSimPlayerKind::Bot));
  } else if (word == "proxy") {
    scenario.Players.push_back(OfKind(ExtractQuoted(line, 1), ExtractQuoted(line, 2), TSimPlayerKind::Proxy));
  } else if (word == "connecting") {
    scenario.Players.push_back(OfKind(ExtractQuoted(line, 1), "", TSimPlayerKind::Connecting));
  } else if (word == "join") {
    scenario.Joins.push_back({std::stoi(value), {ExtractQuoted(line, 1), ExtractQuoted(line, 2)}});
  } else if (word == "addons" && (value == "none" || value == "status" || value == "chat" || value == "both")) {
    scenario.StatusAddon = value == "status" || value == "both";
    scenario.ChatAddon = value == "chat" || value == "both";
  } else if (word == "output") {
    std::string text;
    for (int i = TrailingCount(line); i > 0; --i) text += ExtractQuoted(line, 2);
    scenario.Outputs.emplace_back(ExtractQuoted(line, 1), text);
  } else if (word == "split" && value == "reversed") {
    scenario.SplitOrder = gamesim::TSplitOrder::Reversed;
  } else if (word == "silent") {
    scenario.Silent = true;
  } else {
    return false;
  }
  return true;
}

bool ReadScenario(const std::string& path, TScenario& scenario) {
  std::vector<std::string> lines;
  std::string error;
  if (!platform::ReadTextLines(path, lines, &error)) {
    std::cerr << error << "\n";
    return false;
  }
  for (const std::string& line : lines) {
    if (line.empty() || line[0] == ';') continue;
    bool applied = false;
    try {
      applied = ApplyLine(line, scenario);
    } catch (const std::exception&) {  // a number that std::stoi refuses
      applied = false;
    }
    if (!applied) {
      std::cerr << "bad scenario line: " << line << "\n";
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int rateLimit = 180;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const bool withLimit = args.size() == 3 && args[0] == "--rate-limit";
  if (args.size() != 1 && !withLimit) {
    std::cerr << "usage: gamesim [--rate-limit N] scenario.txt\n";
    return 2;
  }
  if (withLimit) {
    try {
      rateLimit = std::stoi(args[1]);
    } catch (const std::exception&) {
      std::cerr << "--rate-limit takes a number\n";
      return 2;
    }
  }
  TScenario scenario;
  if (!ReadScenario(args.back(), scenario)) return 1;
  platform::InstallStopHandlers();

  gamesim::TGameServerSim sim;
  sim.SetPassword(scenario.Password);
  sim.SetHostname(scenario.Hostname);
  sim.SetMaxPlayers(scenario.Slots);
  sim.SetRateLimit(rateLimit);
  sim.SetStatusMark(scenario.Mark);
  sim.SetPlayers(scenario.Players);
  sim.SetStatusAddon(scenario.StatusAddon);
  sim.SetChatAddon(scenario.ChatAddon);
  for (const auto& [word, text] : scenario.Outputs) sim.SetOutput(word, text);
  sim.SetSplitOrder(scenario.SplitOrder);
  sim.SetSilent(scenario.Silent);
  sim.SetEventSink([](const std::string& line) { platform::ConsoleLine("gamesim: " + line); });
  std::string error;
  if (!sim.Start(static_cast<uint16_t>(scenario.Port), &error)) {
    std::cerr << error << "\n";
    return 1;
  }
  platform::ConsoleLine("gamesim: answering on 127.0.0.1:" + std::to_string(sim.Port()) + " with " +
                        std::to_string(scenario.Players.size()) + " players");
  std::stable_sort(scenario.Joins.begin(), scenario.Joins.end(),
                   [](const auto& a, const auto& b) { return a.AfterSeconds < b.AfterSeconds; });
  int elapsedSeconds = 0;
  for (const auto& join : scenario.Joins) {
    if (platform::WaitForStop((join.AfterSeconds - elapsedSeconds) * 1000)) break;
    elapsedSeconds = std::max(elapsedSeconds, join.AfterSeconds);
    std::vector<gamesim::TSimPlayer> players = sim.Players();
    players.push_back(join.Player);
    sim.SetPlayers(players);
    platform::ConsoleLine("gamesim: player \"" + join.Player.Name + "\" joins from " + join.Player.Address);
  }
  while (!platform::WaitForStop(60000)) {
  }
  sim.Stop();
  return 0;
}
