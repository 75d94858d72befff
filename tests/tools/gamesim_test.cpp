// The game-server simulator against the byte facts of a real GoldSrc server,
// over raw UDP: what our remote-console client is tested against must be right.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <set>

#include "gamesim/game_server_sim.h"
#include "platform/socket.h"

namespace {

using gamesim::TSimPlayer;
using gamesim::TSimPlayerKind;

const std::string kFF = "\xFF\xFF\xFF\xFF";
const std::string kEmptyAnswer("\xFF\xFF\xFF\xFF\x6C\x00\x00", 7);
const std::string kBadPassword = kFF + "lBad rcon_password.\n" + std::string(2, '\0');
const std::string kBanned = kFF + "lYou have been banned from this server.\n" + std::string(1, '\0');

std::string Answer(const std::string& text) { return kFF + "l" + text + std::string(2, '\0'); }

// A remote-console client on its own loopback address and port.
class TProbe {
 public:
  TProbe(uint16_t simPort, const std::string& localAddress = "127.0.0.1") {
    std::string error;
    auto socket = platform::TUdpSocket::Open(&error);
    EXPECT_TRUE(socket) << error;
    socket_ = std::move(*socket);
    EXPECT_TRUE(socket_.BindTo({*platform::ParseDottedAddress(localAddress), 0}, &error)) << error;
    sim_ = {*platform::ParseDottedAddress("127.0.0.1"), simPort};
  }

  // Every datagram that arrives: the first within firstWaitMs, each further
  // one within a short quiet time (the simulator sends an answer at once).
  std::vector<std::string> Exchange(const std::string& payload, int firstWaitMs = 2000) {
    std::string error;
    EXPECT_TRUE(socket_.SendTo(payload, sim_, &error)) << error;
    std::vector<std::string> received;
    for (int waitMs = firstWaitMs;; waitMs = 150) {
      std::string data;
      platform::Endpoint from;
      if (socket_.ReceiveFrom(data, from, waitMs, 8192, &error) != platform::ReceiveStatus::Datagram) break;
      received.push_back(data);
    }
    return received;
  }
  // The first datagram that arrives within waitMs, "" when none does.
  std::string Ask(const std::string& payload, int waitMs = 1000) {
    std::string error;
    EXPECT_TRUE(socket_.SendTo(payload, sim_, &error)) << error;
    std::string data;
    platform::Endpoint from;
    return socket_.ReceiveFrom(data, from, waitMs, 8192, &error) == platform::ReceiveStatus::Datagram ? data : "";
  }
  std::string AskChallenge() {
    const auto answers = Exchange(kFF + "challenge rcon");
    EXPECT_EQ(answers.size(), 1u);
    const std::string prefix = kFF + "challenge rcon ";
    if (answers.empty() || answers[0].rfind(prefix, 0) != 0) return "?";
    return answers[0].substr(prefix.size(), answers[0].size() - prefix.size() - 2);
  }
  std::vector<std::string> Rcon(const std::string& password, const std::string& command) {
    if (challenge_.empty()) challenge_ = AskChallenge();
    return Exchange(kFF + "rcon " + challenge_ + " \"" + password + "\" " + command);
  }

 private:
  platform::TUdpSocket socket_;
  platform::Endpoint sim_;
  std::string challenge_;
};

// Split packets joined back into the datagrams they carry, in arrival order of
// each datagram's last piece; plain datagrams pass through.
std::vector<std::string> Reassemble(const std::vector<std::string>& received) {
  std::vector<std::string> datagrams;
  std::map<std::string, std::map<int, std::string>> pending;  // by sequence bytes
  for (const std::string& data : received) {
    if (data.rfind("\xFE\xFF\xFF\xFF", 0) != 0) {
      datagrams.push_back(data);
      continue;
    }
    const std::string sequence = data.substr(4, 4);
    const int count = data[8] & 0x0F;
    auto& pieces = pending[sequence];
    pieces[(data[8] >> 4) & 0x0F] = data.substr(9);
    if (static_cast<int>(pieces.size()) == count) {
      std::string whole;
      for (const auto& [index, piece] : pieces) whole += piece;
      datagrams.push_back(whole);
      pending.erase(sequence);
    }
  }
  EXPECT_TRUE(pending.empty()) << "pieces of a split datagram went missing";
  return datagrams;
}

// The text of each answer datagram, up to its first NUL.
std::vector<std::string> AnswerTexts(const std::vector<std::string>& received) {
  std::vector<std::string> texts;
  for (const std::string& datagram : Reassemble(received)) {
    EXPECT_EQ(datagram.rfind(kFF + "l", 0), 0u);
    texts.push_back(datagram.substr(5, datagram.find('\0', 5) - 5));
  }
  return texts;
}

std::string Joined(const std::vector<std::string>& texts) {
  std::string all;
  for (const std::string& text : texts) all += text;
  return all;
}

std::string Printf(const char* format, int a, const std::string& b, int c, const std::string& d) {
  char buffer[256];
  std::snprintf(buffer, sizeof(buffer), format, a, b.c_str(), c, d.c_str());
  return buffer;
}

class GameSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(sim_.Start(0, &error)) << error;
    sim_.SetPassword("secret");
    sim_.SetHostname("Host");
  }
  std::string StatusHead(int players) const {
    return "hostname:  Host\nversion :  48/1.1.2.7/Stdio 8684 secure  (10)\ntcp/ip  :  127.0.0.1:" +
           std::to_string(sim_.Port()) + "\nmap     :  de_dust2 at: 0 x, 0 y, 0 z\nplayers :  " +
           std::to_string(players) + " active (32 max)\n\n#      name userid uniqueid frag time ping loss adr\n";
  }

  gamesim::TGameServerSim sim_;
};

TEST_F(GameSimTest, ChallengeAnswerIsOneNumberPerIpAddress) {
  TProbe first(sim_.Port());
  TProbe second(sim_.Port());  // another port of the same address
  const std::string expected =
      kFF + "challenge rcon " + std::to_string(sim_.ChallengeFor("127.0.0.1")) + "\n" + std::string(1, '\0');
  struct {
    std::string Request;
    bool Answered;
  } const cases[] = {
      {"challenge rcon", true},
      {"challenge rcon\n", true},
      {std::string("challenge rcon\0", 15), true},
      {"challenge rcon extra", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Request);
    const auto want = c.Answered ? std::vector<std::string>{expected} : std::vector<std::string>{};
    EXPECT_EQ(first.Exchange(kFF + c.Request, c.Answered ? 2000 : 300), want);
    EXPECT_EQ(second.Exchange(kFF + c.Request, c.Answered ? 2000 : 300), want);
  }
  EXPECT_LE(sim_.ChallengeFor("127.0.0.1"), 0x7FFFFFFFu);
}

TEST_F(GameSimTest, AnswersShownChatsAndAddOns) {
  sim_.SetPlayers({{"Bob", "10.0.0.5:27005"}});
  struct {
    bool StatusAddon;
    bool ChatAddon;
    std::string Command;
    std::string Text;    // of the one answer datagram
    std::string Colour;  // of the chat line players see
    std::string Shown;   // "" when players see nothing
  } const cases[] = {
      {true, true, "no_such_command", "", "", ""},
      {true, true, "", "", "", ""},
      {true, true, "ZELK_STAT 1", "\\Host\\\\de_dust2\\\\Bob\\\\10.0.0.5:27005\\", "", ""},
      {false, true, "zelk_stat 1", "", "", ""},
      {true, true, "amx_tsay red hello", "Host :  hello\n", "red", "hello"},
      {true, true, "AMX_TSAY RED hello", "Host :  hello\n", "RED", "hello"},
      {true, true, "amx_tsay Ocean two  words", "Host :  two  words\n", "Ocean", "two  words"},
      {true, true, "amx_tsay purple hello", "Host :  purple hello\n", "", "purple hello"},
      {true, true, "amx_tsay \"green hello there\"", "Host :  hello there\n", "green", "hello there"},
      {true, true, "amx_tsay red \"quoted\"", "Host :  \"quoted\"\n", "red", "\"quoted\""},
      {true, false, "amx_tsay red hello", "", "", ""},
      {true, true, "say hello", "", "", "<Host> hello"},
      {true, true, "Say \"hi there\"", "", "", "<Host> hi there"},
      {true, true, "say \"cut\" here", "", "", "<Host> cut\" her"},
      {true, true, "say " + std::string(70, 'x'), "", "", "<Host> " + std::string(63, 'x')},
      {true, true, "say \"" + std::string(70, 'x') + "\"", "", "", "<Host> " + std::string(63, 'x')},
      {true, true, "say //comment", "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Command);
    gamesim::TGameServerSim sim;
    std::string error;
    ASSERT_TRUE(sim.Start(0, &error)) << error;
    sim.SetPassword("secret");
    sim.SetHostname("Host");
    sim.SetPlayers({{"Bob", "10.0.0.5:27005"}});
    sim.SetStatusAddon(c.StatusAddon);
    sim.SetChatAddon(c.ChatAddon);
    TProbe probe(sim.Port());
    EXPECT_EQ(probe.Rcon("secret", c.Command), std::vector<std::string>{Answer(c.Text)});
    const auto messages = sim.Messages();
    if (c.Shown.empty()) {
      EXPECT_TRUE(messages.empty());
      EXPECT_TRUE(sim.Chats().empty());
    } else {
      ASSERT_EQ(messages.size(), 1u);
      EXPECT_EQ(messages[0].Colour, c.Colour);
      EXPECT_EQ(messages[0].Shown, c.Shown);
    }
  }
  TProbe probe(sim_.Port());
  EXPECT_EQ(probe.Rcon("secret", "no_such_command"), std::vector<std::string>{kEmptyAnswer});
}

// The hostname set over the remote console as the engine's cvar command; say
// keeps min(63, 124 - H) characters of its text under a hostname of H.
TEST_F(GameSimTest, SayKeepsLessOfTheTextBehindAHostnameOverSixtyOne) {
  TProbe probe(sim_.Port());
  EXPECT_EQ(AnswerTexts(probe.Rcon("secret", "hostname")), std::vector<std::string>{"\"hostname\" is \"Host\"\n"});
  const struct {
    size_t HostnameLength;
    size_t Kept;
  } cases[] = {{59, 63}, {61, 63}, {62, 62}, {64, 60}, {66, 58}, {70, 54}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.HostnameLength);
    const std::string hostname = "My " + std::string(c.HostnameLength - 3, 'h');
    EXPECT_EQ(probe.Rcon("secret", "hostname \"" + hostname + "\""), std::vector<std::string>{kEmptyAnswer});
    EXPECT_EQ(sim_.Hostname(), hostname);
    probe.Rcon("secret", "say " + std::string(70, 'x'));
    ASSERT_FALSE(sim_.Messages().empty());
    EXPECT_EQ(sim_.Messages().back().Shown, "<" + hostname + "> " + std::string(c.Kept, 'x'));
  }
  probe.Rcon("secret", "hostname two words");
  EXPECT_EQ(sim_.Hostname(), "two") << "an unquoted value is one token";
}

// The engine's limit per source address: 180 connectionless datagrams in a
// 60 s window, challenge requests and commands alike; others still answered.
TEST_F(GameSimTest, RateLimitSilencesOneAddressForTheRestOfItsWindow) {
  TProbe probe(sim_.Port());
  int answered = 0;
  for (int i = 0; i < 180; ++i) answered += !probe.Ask(kFF + "challenge rcon").empty();
  EXPECT_EQ(answered, 180);
  EXPECT_EQ(probe.Ask(kFF + "challenge rcon", 300), "");
  const std::string good = std::to_string(sim_.ChallengeFor("127.0.0.1"));
  EXPECT_EQ(probe.Ask(kFF + "rcon " + good + " \"secret\" status", 300), "");
  TProbe other(sim_.Port(), "127.0.0.2");
  EXPECT_EQ(other.Rcon("secret", "say hi"), std::vector<std::string>{kEmptyAnswer});
  sim_.SetRateLimit(0);
  EXPECT_EQ(probe.Rcon("secret", "say hi"), std::vector<std::string>{kEmptyAnswer}) << "0: no limit";
}

TEST_F(GameSimTest, ChecksRunInTheEnginesOrder) {
  const std::string good = std::to_string(sim_.ChallengeFor("127.0.0.1"));
  const std::string badChallenge = kFF + "9Bad challenge.\n" + std::string(1, '\0');
  struct {
    std::string Password;  // of the server
    std::string Line;      // after the four 0xFF bytes; GOOD stands for the right challenge
    std::vector<std::string> Replies;
  } const cases[] = {
      {"secret", "rcon", {kBadPassword}},
      {"secret", "rcon GOOD", {kBadPassword}},
      {"", "rcon GOOD", {Answer("Bad rcon_password.\nNo password set for this server.\n")}},
      {"", "rcon GOOD \"secret\" status", {Answer("Bad rcon_password.\nNo password set for this server.\n")}},
      {"secret", "rcon 1 \"secret\" status", {badChallenge}},
      {"secret", "rcon  \"secret\" status", {badChallenge}},
      {"secret", "rcon 1 \"wrong\" status", {badChallenge}},
      {"secret", "rcon GOOD \"wrong\" status", {kBadPassword}},
      {"secret", "rcon GOOD \"Secret\" status", {kBadPassword}},
      {"secret", "rcon GOOD secret amx_tsay red hi", {Answer("Host :  hi\n")}},
  };
  TProbe probe(sim_.Port());
  probe.AskChallenge();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line);
    sim_.SetPassword(c.Password);
    std::string line = c.Line;
    if (line.find("GOOD") != std::string::npos) line.replace(line.find("GOOD"), 4, good);
    EXPECT_EQ(probe.Exchange(kFF + line), c.Replies);
  }
  sim_.SetPassword("secret");
  TProbe stranger(sim_.Port(), "127.0.0.2");  // never asked for a challenge
  EXPECT_EQ(stranger.Exchange(kFF + "rcon " + good + " \"secret\" status"),
            std::vector<std::string>{kFF + "9No challenge for your address.\n" + std::string(1, '\0')});
}

TEST_F(GameSimTest, BadChallengesAndShortLinesAreNeverCounted) {
  TProbe probe(sim_.Port());
  probe.AskChallenge();
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(probe.Exchange(kFF + "rcon 1 \"secret\" status").size(), 1u);
    EXPECT_EQ(probe.Exchange(kFF + "rcon 1"), std::vector<std::string>{kBadPassword});
  }
  EXPECT_EQ(probe.Rcon("secret", "amx_tsay red hi"), std::vector<std::string>{Answer("Host :  hi\n")});
  EXPECT_TRUE(sim_.BannedAddresses().empty());
}

TEST_F(GameSimTest, SixthCommandAfterFiveWrongPasswordsFromOnePortBansTheAddress) {
  TProbe a(sim_.Port());
  TProbe b(sim_.Port());
  TProbe elsewhere(sim_.Port(), "127.0.0.2");
  const std::vector<std::string> hi = {Answer("Host :  hi\n")};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(a.Rcon("wrong", "status"), std::vector<std::string>{kBadPassword});
    EXPECT_EQ(b.Rcon("wrong", "status"), std::vector<std::string>{kBadPassword});
  }
  EXPECT_EQ(a.Rcon("secret", "amx_tsay red hi"), hi) << "four failures per port: not yet";
  EXPECT_EQ(a.Rcon("wrong", "status"), std::vector<std::string>{kBadPassword});
  EXPECT_EQ(b.Rcon("secret", "amx_tsay red hi"), hi) << "failures are counted per port";
  EXPECT_TRUE(sim_.BannedAddresses().empty());

  // The sixth command from that port is refused before its (right) password is read.
  EXPECT_EQ(a.Rcon("secret", "amx_tsay red hi"), std::vector<std::string>{kBadPassword});
  EXPECT_EQ(sim_.BannedAddresses(), std::vector<std::string>{"127.0.0.1"});
  EXPECT_EQ(a.Exchange(kFF + "challenge rcon"), std::vector<std::string>{kBanned});
  EXPECT_EQ(b.Rcon("secret", "amx_tsay red hi"), std::vector<std::string>{kBanned}) << "the whole address";
  EXPECT_EQ(elsewhere.Rcon("secret", "amx_tsay red hi"), hi);
  EXPECT_EQ(sim_.Commands().size(), 3u);
}

TEST_F(GameSimTest, CommandDatagramOver515BytesIsCheckedButNotAnswered) {
  TProbe probe(sim_.Port());
  const std::string challenge = probe.AskChallenge();
  const auto datagram = [&](const std::string& password, size_t size) {
    std::string d = kFF + "rcon " + challenge + " \"" + password + "\" amx_tsay red ";
    return d + std::string(size - d.size(), 'a');
  };
  EXPECT_EQ(probe.Exchange(datagram("secret", 515)).size(), 1u);
  EXPECT_TRUE(probe.Exchange(datagram("secret", 516), 300).empty());
  EXPECT_EQ(sim_.Commands().size(), 1u) << "the long command did not run";
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(probe.Exchange(datagram("wrong", 600), 300).empty());
  EXPECT_EQ(probe.Rcon("secret", "status"), std::vector<std::string>{kBadPassword});
  EXPECT_EQ(sim_.BannedAddresses(), std::vector<std::string>{"127.0.0.1"});
}

TEST_F(GameSimTest, DatagramsOver1400BytesGoOutAsSplitPackets) {
  TProbe probe(sim_.Port());
  for (const auto order : {gamesim::TSplitOrder::InOrder, gamesim::TSplitOrder::Reversed}) {
    sim_.SetSplitOrder(order);
    std::set<std::string> sequences;
    for (const size_t size : {1393u, 1394u, 1399u}) {
      SCOPED_TRACE(std::to_string(size) + (order == gamesim::TSplitOrder::Reversed ? " reversed" : " in order"));
      const std::string whole = Answer(std::string(size, 'x'));
      sim_.SetOutput("big", std::string(size, 'x'));
      const auto received = probe.Rcon("secret", "big");
      if (size == 1393) {
        EXPECT_EQ(received, std::vector<std::string>{whole}) << "1400 bytes still go out whole";
        continue;
      }
      ASSERT_EQ(received.size(), 2u);
      const bool reversed = order == gamesim::TSplitOrder::Reversed;
      const std::string& first = received[reversed ? 1 : 0];
      const std::string& second = received[reversed ? 0 : 1];
      EXPECT_EQ(first.substr(0, 4), "\xFE\xFF\xFF\xFF");
      EXPECT_EQ(second.substr(0, 4), "\xFE\xFF\xFF\xFF");
      EXPECT_EQ(first.substr(4, 4), second.substr(4, 4)) << "one sequence number per datagram";
      EXPECT_TRUE(sequences.insert(first.substr(4, 4)).second) << "a new one for the next datagram";
      EXPECT_EQ(first[8], '\x02');
      EXPECT_EQ(second[8], '\x12');
      EXPECT_EQ(first.size(), 9u + 1391u);
      EXPECT_EQ(first.substr(9) + second.substr(9), whole);
    }
  }
}

// The status lines of a full server, with names and addresses of varied
// lengths, overflow one datagram; each line is printed in five pieces.
TEST_F(GameSimTest, LongStatusIsCutBetweenPrintCalls) {
  std::vector<TSimPlayer> players;
  std::vector<std::string> pieces;
  for (int i = 1; i <= 32; ++i) {
    // Names differ (the engine would list a second "Playern" as "(1)Playern").
    TSimPlayer p{"Player" + std::string(static_cast<size_t>(i % 25), i > 25 ? 'm' : 'n'),
                 "10.0." + std::to_string(i) + ".7:2700" + std::to_string(i % 10)};
    p.UserId = 100 + i;
    p.UniqueId = "STEAM_0:1:" + std::to_string(1000 * i);
    p.Frags = i;
    p.Seconds = 61 * i;
    p.Ping = 3 * i;
    players.push_back(p);
    char buffer[64];
    pieces.push_back(Printf("#%2i %8s %i %s", i, "\"" + p.Name + "\"", p.UserId, p.UniqueId));
    std::snprintf(buffer, sizeof(buffer), " %3i", p.Frags);
    pieces.push_back(buffer);
    std::snprintf(buffer, sizeof(buffer), " %02i:%02i", p.Seconds / 60, p.Seconds % 60);
    pieces.push_back(buffer);
    std::snprintf(buffer, sizeof(buffer), " %4i  %3i", p.Ping, 0);
    pieces.push_back(buffer);
    pieces.push_back(" " + p.Address + "\n");
  }
  pieces.push_back("32 users\n");
  sim_.SetPlayers(players);
  TProbe probe(sim_.Port());
  const auto texts = AnswerTexts(probe.Rcon("secret", "STATUS"));
  ASSERT_GE(texts.size(), 2u);

  const std::string head = StatusHead(32);
  std::set<size_t> boundaries;  // offsets in the whole text where a print call ends
  size_t offset = head.size();
  std::string expected = head;
  for (const std::string& piece : pieces) {
    boundaries.insert(offset += piece.size());
    expected += piece;
  }
  EXPECT_EQ(Joined(texts), expected);
  size_t cut = 0;
  bool cutInsideALine = false;
  for (size_t i = 0; i + 1 < texts.size(); ++i) {
    EXPECT_LE(texts[i].size(), 1399u);
    cut += texts[i].size();
    EXPECT_TRUE(boundaries.count(cut)) << "cut at " << cut << " splits a print call";
    const size_t nextPiece = *boundaries.upper_bound(cut) - cut;
    EXPECT_GT(texts[i].size() + nextPiece, 1399u) << "the next print call would have fitted";
    cutInsideALine |= expected[cut - 1] != '\n';
  }
  EXPECT_TRUE(cutInsideALine);
}

TEST_F(GameSimTest, StatusLineOfEachKindOfPlayer) {
  const auto make = [](const std::string& name, const std::string& address, int userId, TSimPlayerKind kind) {
    TSimPlayer p{name, address};
    p.UserId = userId;
    p.Kind = kind;
    return p;
  };
  TSimPlayer nitro = make("Nitro", "176.32.12.6:27005", 305, TSimPlayerKind::Player);
  nitro.UniqueId = "STEAM_0:0:785980079";
  nitro.Frags = 5;
  nitro.Seconds = 154;
  nitro.Ping = 52;
  TSimPlayer bot = make("uBaH_KpuBopyKoB", "", 319, TSimPlayerKind::Bot);
  bot.Frags = 6;
  bot.Seconds = 3 * 3600 + 15 * 60 + 46;
  TSimPlayer proxy = make("TV", "10.0.0.7:27020", 12, TSimPlayerKind::Proxy);
  proxy.HltvViewers = 3;
  proxy.HltvSlots = 10;
  proxy.HltvDelay = 30;
  proxy.Seconds = 300;
  proxy.Ping = 5;
  TSimPlayer connecting = make("Slow", "10.0.0.9:27005", 7, TSimPlayerKind::Connecting);
  connecting.Seconds = 3;
  const TSimPlayer odd = make("Odd\\Na" + std::string(40, 'n') + "\"tail", "10.0.0.1:1", 9, TSimPlayerKind::Player);
  struct {
    TSimPlayer Player;
    std::string Line;
  } const cases[] = {
      {nitro, "# 1  \"Nitro\" 305 STEAM_0:0:785980079   5 02:34   52    0 176.32.12.6:27005"},
      {bot, "# 1 \"uBaH_KpuBopyKoB\" 319 BOT   6  3:15:46    0    0"},
      {proxy, "# 1     \"TV\" 12 HLTV hltv:3/10 delay:30 05:00    5    0 10.0.0.7:27020"},
      {connecting, ""},  // counted, but no line until it has spawned
      {odd, "# 1 \"OddNa" + std::string(26, 'n') + "\" 9 STEAM_0:0:9   0 00:00    0    0 10.0.0.1:1"},
  };
  TProbe probe(sim_.Port());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line);
    sim_.SetPlayers({c.Player});
    EXPECT_EQ(AnswerTexts(probe.Rcon("secret", "status")),
              std::vector<std::string>{StatusHead(1) + c.Line + (c.Line.empty() ? "" : "\n") + "1 users\n"});
  }
  sim_.SetMaxPlayers(8);
  EXPECT_NE(Joined(AnswerTexts(probe.Rcon("secret", "status"))).find("players :  1 active (8 max)\n"),
            std::string::npos);
}

// Names as the engine lists what the players' games sent.
TEST_F(GameSimTest, PlayersAreListedUnderTheEnginesVersionOfTheirNames) {
  const std::string zhe = "\xD0\x96";  // Ж, two bytes
  std::string fifteen;
  for (int i = 0; i < 15; ++i) fifteen += zhe;
  const std::string sixteen = fifteen + zhe;
  const struct {
    std::string Sent;
    std::string Listed;
  } cases[] = {
      {"Tom&Jerry", "Tom\xEF\xBC\x86Jerry"},
      {"  Two  Spaces ", "Two  Spaces"},
      {sixteen, fifteen},  // the 31-byte cut breaks the sixteenth
      {"console", "unnamed"},
      {"Ann \"Q\" Lee", "Ann"},
      {"#1 a+b+", "\xEF\xBC\x83" "1 a+\xEF\xBD\x82+"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Sent);
    sim_.SetPlayers({{c.Sent, "10.0.0.5:27005"}});
    EXPECT_EQ(sim_.Players()[0].Name, c.Listed);
  }
  const std::string longName = std::string(27, 'L') + zhe + "x";  // the 28-byte part breaks the Ж
  sim_.SetPlayers({{"Name", "10.0.0.5:27005"}, {"NAME", "10.0.0.6:27005"}, {longName, "10.0.0.7:27005"},
                   {longName, "10.0.0.8:27005"}});
  auto players = sim_.Players();
  players.push_back({"name", "10.0.0.9:27005"});
  sim_.SetPlayers(players);  // those listed keep their names; the new one joins
  std::vector<std::string> names;
  for (const TSimPlayer& p : sim_.Players()) names.push_back(p.Name);
  EXPECT_EQ(names, (std::vector<std::string>{"Name", "(1)NAME", longName, "(1)" + std::string(27, 'L'), "(2)name"}));
}

TEST_F(GameSimTest, KickByNameShowsTheRawRestAndByUserIdTheCleanText) {
  TSimPlayer bob{"Bob", "10.0.0.5:27005"};
  bob.UserId = 305;
  sim_.SetPlayers({bob, {"Ann", "10.0.0.6:27005"}});
  const int ann = sim_.Players()[1].UserId;
  EXPECT_GT(ann, 305) << "a new userid above every given one";
  auto players = sim_.Players();
  players.push_back({"Cid", "10.0.0.7:27005"});
  sim_.SetPlayers(players);
  EXPECT_EQ(sim_.Players()[1].UserId, ann) << "kept across updates";
  EXPECT_GT(sim_.Players()[2].UserId, ann);
  const auto everybody = sim_.Players();

  struct {
    std::string Command;
    bool Found;
    std::string Name;
    int UserId;
    std::string Text;
    std::string Shown;
  } const cases[] = {
      {"kick \"Bob\" \"Cheating here\"", true, "Bob", 305, "Cheating here", "\" \"Cheating here\""},
      {"KICK \"bob\" \"x\"", true, "bob", 305, "x", "\" \"x\""},
      {"kick Bob reason words", true, "Bob", 305, "reason", "reason words"},
      {"kick #305 wall hack", true, "Bob", 305, "wall", "wall hack"},
      {"kick #" + std::to_string(ann) + " bye", true, "Ann", ann, "bye", "bye"},
      {"kick \"Nobody\" \"x\"", false, "Nobody", 0, "x", "\" \"x\""},
      {"kick #999 x", false, "", 999, "x", "x"},
  };
  TProbe probe(sim_.Port());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Command);
    sim_.SetPlayers(everybody);
    const size_t before = sim_.Kicks().size();
    EXPECT_EQ(probe.Rcon("secret", c.Command), std::vector<std::string>{kEmptyAnswer});
    ASSERT_EQ(sim_.Kicks().size(), before + 1);
    const gamesim::TSimKick kick = sim_.Kicks().back();
    EXPECT_EQ(kick.Found, c.Found);
    EXPECT_EQ(kick.Name, c.Name);
    EXPECT_EQ(kick.UserId, c.UserId);
    EXPECT_EQ(kick.Text, c.Text);
    EXPECT_EQ(kick.Shown, c.Shown);
    const auto left = sim_.Players();
    EXPECT_EQ(left.size(), everybody.size() - (c.Found ? 1 : 0));
    EXPECT_TRUE(std::none_of(left.begin(), left.end(), [&](const TSimPlayer& p) {
      return c.Found && p.UserId == c.UserId;
    }));
  }
}

}  // namespace
