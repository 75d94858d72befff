// gamesim: a game server's remote console for demos. Reads a scenario file and
// answers on 127.0.0.1 until interrupted, printing each command it executes.
//
//   gamesim scenario.txt
//
// Scenario lines (";" starts a comment; values in double quotes):
//   port 27015                      UDP port of the remote console
//   password "secret"               rcon_password ("" for none)
//   hostname "My server"
//   mark "de_dust2"                 header field 2 of the status answer
//   player "Bob" "10.0.0.5:27005"   one line per player, in order
//   join 8 "Bob" "10.0.0.5:27005"   the player joins 8 seconds after the start
//   silent                          receive but never answer
#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "game/text_fields.h"
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
  std::vector<gamesim::TSimPlayer> Players;
  struct TJoin {
    int AfterSeconds = 0;
    gamesim::TSimPlayer Player;
  };
  std::vector<TJoin> Joins;  // in order of time
  bool Silent = false;
};

bool ReadScenario(const std::string& path, TScenario& scenario) {
  std::vector<std::string> lines;
  std::string error;
  if (!platform::ReadTextLines(path, lines, &error)) {
    std::cerr << error << "\n";
    return false;
  }
  for (const std::string& line : lines) {
    if (line.empty() || line[0] == ';') continue;
    const std::string word = line.substr(0, line.find(' '));
    if (word == "port") {
      scenario.Port = std::stoi(line.substr(4));
    } else if (word == "password") {
      scenario.Password = ExtractQuoted(line, 1);
    } else if (word == "hostname") {
      scenario.Hostname = ExtractQuoted(line, 1);
    } else if (word == "mark") {
      scenario.Mark = ExtractQuoted(line, 1);
    } else if (word == "player") {
      scenario.Players.push_back({ExtractQuoted(line, 1), ExtractQuoted(line, 2)});
    } else if (word == "join") {
      scenario.Joins.push_back({std::stoi(line.substr(5)), {ExtractQuoted(line, 1), ExtractQuoted(line, 2)}});
    } else if (word == "silent") {
      scenario.Silent = true;
    } else {
      std::cerr << "unknown scenario line: " << line << "\n";
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: gamesim scenario.txt\n";
    return 2;
  }
  TScenario scenario;
  if (!ReadScenario(argv[1], scenario)) return 1;
  platform::InstallStopHandlers();

  gamesim::TGameServerSim sim;
  sim.SetPassword(scenario.Password);
  sim.SetHostname(scenario.Hostname);
  sim.SetStatusMark(scenario.Mark);
  sim.SetPlayers(scenario.Players);
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
