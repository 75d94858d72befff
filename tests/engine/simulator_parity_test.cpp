// Our game-server simulator against the real engine: the same remote-console
// datagrams to both, the answers compared byte for byte outside the fields that
// differ by nature (challenge numbers, the split-packet sequence, the times in
// status). The simulator is told what the engine has: hostname, map, version
// line, the bots the engine was given with addbot and the names its human
// players sent; what kick and say did is compared with the engine's console.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <regex>
#include <chrono>
#include <thread>

#include "engine/engine_support.h"
#include "gamesim/game_server_sim.h"

namespace enginetest {
namespace {

const std::string kPassword = "secret";

// A datagram with the fields that differ by nature masked.
std::string Masked(std::string datagram) {
  if (datagram.rfind("\xFE\xFF\xFF\xFF", 0) == 0 && datagram.size() >= 8) datagram.replace(4, 4, "SEQ#");
  datagram = std::regex_replace(datagram, std::regex("^(\xFF\xFF\xFF\xFF" "challenge \\S+ )\\d+"), "$1N");
  datagram = std::regex_replace(datagram, std::regex("tcp/ip  :  127\\.0\\.0\\.1:\\d+"), "tcp/ip  :  ADDRESS");
  // The time column of status lines: MM:SS, H:MM:SS (same width on both).
  return std::regex_replace(datagram, std::regex(R"((BOT +\d+) +[\d:]+ )"), "$1 T ");
}

// What came back: for each datagram its shape (kind, piece byte, size) and,
// joined, the masked datagrams it carries (a plain datagram's size is taken
// masked: challenge numbers differ in length).
std::string Seen(const std::vector<std::string>& received) {
  std::string shape;
  for (const std::string& data : received) {
    const bool split = data.rfind("\xFE\xFF\xFF\xFF", 0) == 0;
    shape += std::string(split ? "split" : "plain") + (split && data.size() > 8 ? "/" + std::to_string(data[8]) : "") +
             ":" + std::to_string(split ? data.size() : Masked(data).size()) + " ";
  }
  std::string text;
  for (const std::string& datagram : Reassemble(received)) text += "\n[" + Masked(datagram) + "]";
  return shape + text;
}

class EngineVsSimulator : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(engine_.Start(&error)) << error;
    admin_.emplace(engine_.Port(), "127.0.0.3");
    sim_.SetPassword(kPassword);
    sim_.SetHostname(kHostname);
    sim_.SetStatusMark("box");
    sim_.SetStatusAddon(false);
    sim_.SetChatAddon(false);
    // Both listen on 5-digit ports, so the tcp/ip lines have the same length.
    ASSERT_TRUE(sim_.Start(static_cast<uint16_t>(testenv::PickRconPort()), &error)) << error;
    const std::string version = admin_->Text(kPassword, "status");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(version, match, std::regex("version :  ([^\n]*)\n"))) << version;
    sim_.SetVersion(match[1]);
  }

  // The same payload, from the same kind of socket, to both; {c} becomes each
  // one's challenge for the probe's address.
  std::string Same(const std::string& what, const std::string& payload, TRconProbe& toEngine, TRconProbe& toSim,
            const std::string& engineChallenge, const std::string& simChallenge) {
    SCOPED_TRACE(what);
    const auto fill = [&](const std::string& challenge) {
      return std::regex_replace(payload, std::regex(R"(\{c\})"), challenge);
    };
    const std::string fromEngine = Seen(toEngine.Exchange(fill(engineChallenge), 700));
    const std::string fromSim = Seen(toSim.Exchange(fill(simChallenge), 700));
    EXPECT_EQ(fromSim, fromEngine);
    return fromEngine;
  }

  // The engine's bots, given to the simulator with their slots and userids.
  void MirrorPlayers() {
    const std::string status = admin_->Text(kPassword, "status");
    std::vector<gamesim::TSimPlayer> bots;
    static const std::regex line(R"re(#\s*(\d+) +"(.*)" (\d+) BOT)re");
    for (std::sregex_iterator it(status.begin(), status.end(), line), end; it != end; ++it) {
      gamesim::TSimPlayer bot{(*it)[2], ""};
      bot.Slot = std::stoi((*it)[1]);
      bot.UserId = std::stoi((*it)[3]);
      bot.Kind = gamesim::TSimPlayerKind::Bot;
      bots.push_back(bot);
    }
    sim_.SetPlayers(bots);
  }

  // The engine's status lines of human players: name by address (ip).
  std::map<std::string, std::string> HumansOf(const std::string& status) {
    std::map<std::string, std::string> humans;
    static const std::regex line(R"re(#\s*\d+ +"(.*)" \d+ STEAM_\S+ .* (127\.0\.0\.\d+):\d+)re");
    for (std::sregex_iterator it(status.begin(), status.end(), line), end; it != end; ++it) {
      humans[(*it)[2]] = (*it)[1];
    }
    return humans;
  }

  TEngine engine_{kPassword, 32};
  gamesim::TGameServerSim sim_;
  std::optional<TRconProbe> admin_;  // the engine's admin, from 127.0.0.3
};

TEST_F(EngineVsSimulator, SameScriptSameAnswers) {
  TRconProbe engine(engine_.Port(), "127.0.0.4");
  TRconProbe sim(sim_.Port(), "127.0.0.4");
  const std::string c1 = engine.Challenge();
  const std::string c2 = sim.Challenge();
  const std::string ff = kFF;
  const auto same = [&](const std::string& what, const std::string& payload) {
    return Same(what, ff + payload, engine, sim, c1, c2);
  };
  same("challenge with a newline", "challenge rcon\n");
  same("challenge with a NUL", std::string("challenge rcon\0", 15));
  same("challenge with nothing after", "challenge rcon");
  same("challenge with an extra word", "challenge rcon extra\n");
  same("challenge in upper case", "CHALLENGE RCON\n");
  same("unknown command", "rcon {c} \"secret\" nosuchcommand");
  same("wrong password", "rcon {c} \"wrong\" status");
  same("two tokens only", "rcon {c}");
  same("unquoted password", "rcon {c} secret nosuchcommand");
  same("status without players", "rcon {c} \"secret\" status");
  same("datagram over 515 bytes", "rcon {c} \"secret\" status " + std::string(500, 'x'));
  same("semicolon", "rcon {c} \"secret\" nosuchcommand; status");

  for (const std::string name : {"Nitro", "Dima^8^zombie", "uBaH_KpuBopyKoB"}) {
    admin_->Text(kPassword, "addbot \"" + name + "\"");
  }
  MirrorPlayers();
  same("status with bots", "rcon {c} \"secret\" status");
  same("kick by userid", "rcon {c} \"secret\" kick #1 reason");
  same("status after the kick keeps the slots", "rcon {c} \"secret\" status");
  for (int i = 0; i < 30; ++i) admin_->Text(kPassword, "addbot \"Bot " + std::to_string(i) + " (a, b): c'd\"");
  MirrorPlayers();
  // The search sends up to two commands a try: from an address of its own, so
  // that neither it nor the admin nears the engine's 180 datagrams a minute.
  TRconProbe searcher(engine_.Port(), "127.0.0.6");
  const std::string hostname = HostnameForSplitStatus(searcher, kPassword);
  ASSERT_NE(hostname, "");
  sim_.SetHostname(hostname);
  same("status with 32 bots: a split datagram, then one starting inside a line", "rcon {c} \"secret\" status");

  // A wrong challenge: ReHLDS cannot tell it from none; stock HLDS (and the
  // simulator) says "Bad challenge." to an address that asked.
  const std::string wrong = std::to_string(std::stoll(c1) + 1);
  EXPECT_EQ(engine.Exchange(ff + "rcon " + wrong + " \"secret\" status", 700),
            std::vector<std::string>{ff + "9No challenge for your address.\n" + std::string(1, '\0')});

  // Five wrong passwords from one address and port, then the address is banned.
  TRconProbe engineBanned(engine_.Port(), "127.0.0.5", 41234);
  TRconProbe simBanned(sim_.Port(), "127.0.0.5", 41235);
  const std::string b1 = engineBanned.Challenge();
  const std::string b2 = simBanned.Challenge();
  for (int i = 0; i < 7; ++i) {
    Same("wrong password " + std::to_string(i + 1), ff + "rcon {c} \"wrong\" status", engineBanned, simBanned, b1, b2);
  }
  Same("right password after the ban", ff + "rcon {c} \"secret\" status", engineBanned, simBanned, b1, b2);
  Same("challenge after the ban", ff + "challenge rcon\n", engineBanned, simBanned, b1, b2);
}

// Human players whose names the engine rewrites, trims and cuts; a kick by
// name and by userid and a say under a long hostname, as the engine's console
// shows them.
TEST_F(EngineVsSimulator, PlayersKickAndSayUnderALongHostname) {
  std::string sixteenZhe;
  for (int i = 0; i < 16; ++i) sixteenZhe += "\xD0\x96";
  const std::map<std::string, std::string> sent = {
      {"127.0.0.51", "Tom&Jerry"}, {"127.0.0.52", "  Two  Spaces "}, {"127.0.0.53", sixteenZhe}, {"127.0.0.54", "console"}};
  std::vector<std::unique_ptr<TFakePlayerLoop>> loops;
  for (const auto& [address, name] : sent) loops.push_back(std::make_unique<TFakePlayerLoop>(engine_.Port(), address, name, 60));
  // Each is listed about 2.3 s of every 4 s: gather what the engine listed for each address.
  std::map<std::string, std::string> engineNames;
  for (int poll = 0; poll < 150 && engineNames.size() < sent.size(); ++poll) {
    for (const auto& [address, name] : HumansOf(admin_->Text(kPassword, "status"))) engineNames[address] = name;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  for (auto& loop : loops) loop->Stop();
  std::vector<gamesim::TSimPlayer> humans;
  for (const auto& [address, name] : sent) humans.push_back({name, address + ":27005"});
  sim_.SetPlayers(humans);
  TRconProbe simAdmin(sim_.Port(), "127.0.0.3");
  EXPECT_EQ(HumansOf(simAdmin.Text(kPassword, "status")), engineNames);
  EXPECT_EQ(engineNames.size(), sent.size());

  TRconProbe engine(engine_.Port(), "127.0.0.4");
  TRconProbe sim(sim_.Port(), "127.0.0.4");
  const std::string c1 = engine.Challenge();
  const std::string c2 = sim.Challenge();
  const auto same = [&](const std::string& what, const std::string& payload) {
    return Same(what, kFF + payload, engine, sim, c1, c2);
  };
  for (const std::string name : {"Kick Me", "Kick Me Too"}) admin_->Text(kPassword, "addbot \"" + name + "\"");
  // A bot joins at the engine's next frame: mirrored only once both are listed.
  for (int tries = 0; tries < 10 && admin_->Text(kPassword, "status").find("\"Kick Me Too\"") == std::string::npos;
       ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  MirrorPlayers();
  // The engine gives the lowest free slot, so the list order says nothing.
  int secondUserId = 0;
  for (const gamesim::TSimPlayer& player : sim_.Players()) {
    if (player.Name == "Kick Me Too") secondUserId = player.UserId;
  }
  for (const std::string& command : {std::string("kick \"Kick Me\" \"bye now\""),
                                    "kick #" + std::to_string(secondUserId) + " see you"}) {
    same(command, "rcon {c} \"secret\" " + command);
    ASSERT_FALSE(sim_.Kicks().empty());
    const gamesim::TSimKick kick = sim_.Kicks().back();
    EXPECT_TRUE(kick.Found);
    const std::string dropped = "Dropped " + kick.Name + " from server\nReason:  Kicked :" + kick.Shown + "\n";
    EXPECT_TRUE(engine_.WaitForOutput(dropped, 5000)) << dropped << engine_.Output();
  }

  const std::string hostname = "My CS Server | " + std::string(49, 'h');  // 64 characters
  same("hostname set", "rcon {c} \"secret\" hostname \"" + hostname + "\"");
  same("hostname read", "rcon {c} \"secret\" hostname");
  const std::string text = "say " + std::string(30, 'a') + " " + std::string(40, 'b');
  same("say under the long hostname", "rcon {c} \"secret\" " + text);
  ASSERT_FALSE(sim_.Messages().empty());
  EXPECT_TRUE(engine_.WaitForOutput(sim_.Messages().back().Shown + "\n", 5000))
      << sim_.Messages().back().Shown << "\n" << engine_.Output();
}

}  // namespace
}  // namespace enginetest
