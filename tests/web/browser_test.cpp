// The web console as a browser shows it: the real program runs beside the
// game-server and registry simulators (a stock game server: the players come
// from its status list), with a client whose player stays, a player without a
// client who keeps coming back and is kicked by every supervision run, a bot,
// a screenshot received and a ban reported by a second client, whose own
// screenshot is the ban's evidence. Headless Chromium then loads the page, runs
// its script against the JSON API and dumps the DOM it built; the test reads
// the tables from that DOM (and the ban record's details from the page opened
// on it), fetches the screenshots the page links to, and takes a picture of
// the page for the README (docs/console.png in the source tree).
//
// Skipped when Chromium is not installed (scripts/install-deps.sh installs it).
#include <gtest/gtest.h>

#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "clientsim/client_sim.h"
#include "clientsim/screen_sender.h"
#include "gamesim/game_server_sim.h"
#include "platform/socket.h"
#include "registrysim/registry_sim.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kCommandWaitMs = 20000;  // a command may wait behind a supervision run
constexpr int kStepWaitMs = 60000;     // one step: a few supervision runs at most
constexpr int kBrowserWaitMs = 60000;  // one Chromium run, virtual time included
const std::string kAcceptHead = "rpl:accept\xFF" "1";  // accepted, screens on

const fs::path kSourceDir = fs::path(__FILE__).parent_path().parent_path().parent_path();

// Chromium from Debian's package, or wherever PATH has it; empty when absent.
std::string FindChromium() {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  dirs += ":/usr/bin";
  for (size_t start = 0; start <= dirs.size();) {
    const size_t colon = std::min(dirs.find(':', start), dirs.size());
    const std::string dir = dirs.substr(start, colon - start);
    start = colon + 1;
    if (dir.empty()) continue;
    const std::string candidate = dir + "/chromium";
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::string();
}

// A TCP port free on loopback right now.
int PickTcpPort() {
  std::string error;
  auto listener = platform::TTcpListener::Open(0, 1, &error, /*loopbackOnly=*/true);
  return listener ? listener->LocalPort() : 0;
}

// The text between the first `open` at or after `from` and the next `close`;
// empty when either is missing.
std::string Between(const std::string& text, const std::string& open, const std::string& close, size_t from = 0) {
  const size_t start = text.find(open, from);
  if (start == std::string::npos) return std::string();
  const size_t end = text.find(close, start + open.size());
  return end == std::string::npos ? std::string() : text.substr(start + open.size(), end - start - open.size());
}

// Markup without its tags, with the entities the DOM dump writes decoded.
std::string TextOf(const std::string& markup) {
  std::string text;
  bool inTag = false;
  for (char c : markup) {
    if (c == '<') inTag = true;
    if (!inTag) text += c;
    if (c == '>') inTag = false;
  }
  for (const auto& [entity, plain] : std::vector<std::pair<std::string, std::string>>{
           {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&nbsp;", " "}, {"&amp;", "&"}}) {
    for (size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + plain.size())) {
      text.replace(at, entity.size(), plain);
    }
  }
  return text;
}

// The markup inside <tbody id="id"> in the DOM.
std::string TableBody(const std::string& dom, const std::string& id) {
  return Between(dom, "<tbody id=\"" + id + "\">", "</tbody>");
}

// The rows of a table body, each as the texts of its cells.
std::vector<std::vector<std::string>> TableRows(const std::string& body) {
  std::vector<std::vector<std::string>> rows;
  for (size_t at = body.find("<tr"); at != std::string::npos; at = body.find("<tr", at + 3)) {
    const std::string row = Between(body, ">", "</tr>", at);
    std::vector<std::string> cells;
    for (size_t cell = row.find("<td"); cell != std::string::npos; cell = row.find("<td", cell + 3)) {
      cells.push_back(TextOf(Between(row, ">", "</td>", cell)));
    }
    rows.push_back(cells);
  }
  return rows;
}

// The row whose first cell is `first`; empty when there is none.
std::vector<std::string> RowOf(const std::vector<std::vector<std::string>>& rows, const std::string& first) {
  for (const auto& row : rows) {
    if (!row.empty() && row[0] == first) return row;
  }
  return {};
}

// %XX escapes decoded.
std::string PercentDecoded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A client connection that the test and the keep-alive thread share.
struct TLiveClient {
  std::mutex Lock;  // one command at a time on the connection
  clientsim::TClientSim Connection;
  std::string Name;

  std::optional<std::string> Command(const std::string& line) {
    std::lock_guard<std::mutex> guard(Lock);
    return Connection.Command(line, kCommandWaitMs);
  }
};

class WebConsoleBrowser : public ::testing::Test {
 protected:
  void SetUp() override {
    chromium_ = FindChromium();
    if (chromium_.empty()) GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh installs it)";
    fs::copy_file(ACSERVER_BINARY, dir_.Path() + "acserver");
    std::string error;
    game_.SetPassword("secret");
    game_.SetStatusMark("de_dust2");
    game_.SetStatusAddon(false);
    // The player without a client joins again whenever he is kicked, so every
    // supervision run's report shows him kicked.
    game_.SetEventSink([this](const std::string& line) {
      if (line.rfind("kick ", 0) == 0) Rejoin(kLonely);
    });
    ASSERT_TRUE(testenv::StartOnRconPort(game_, &error)) << error;
    registry_.SetAnswer("ok");
    ASSERT_TRUE(registry_.Start(0, &error)) << error;
    port_ = game_.Port() + 1000;
    webPort_ = PickTcpPort();
    ASSERT_NE(webPort_, 0);
    testenv::WriteFile(dir_.Path() + "zelk_config.txt",
                       "\"rconhost\" \"127.0.0.1\"\n\"rconport\" \"" + std::to_string(game_.Port()) +
                           "\"\n\"rconpass\" \"secret\"\n\"cl_id\" \"abc\"\n\"startup_grace\" \"0\"\n\"allow_screens\" \"1\"\n"
                           "\"ban_time\" \"0\"\n\"registry_host\" \"127.0.0.1:" + std::to_string(registry_.Port()) +
                           "\"\n\"web_listen\" \"127.0.0.1:" + std::to_string(webPort_) +
                           "\"\n\"web_public\" \"1\"\n\"web_public_evidence\" \"1\"\n");
  }

  void TearDown() override {
    {
      std::lock_guard<std::mutex> guard(aliveLock_);
      stopKeepAlive_ = true;
    }
    aliveWake_.notify_all();
    if (keepAlive_.joinable()) keepAlive_.join();
  }

  void Rejoin(const gamesim::TSimPlayer& player) {
    std::vector<gamesim::TSimPlayer> players = game_.Players();
    if (std::none_of(players.begin(), players.end(), [&](const auto& p) { return p.Name == player.Name; })) {
      players.push_back(player);
      game_.SetPlayers(players);
    }
  }

  // Connects a client and registers it; null when the connection failed.
  TLiveClient* Connect(const std::string& name, const std::string& identifier, std::string* reply) {
    std::string error;
    auto connection = clientsim::TClientSim::Open("127.0.0.1", port_, &error);
    if (!connection) {
      *reply = "open failed: " + error;
      return nullptr;
    }
    clients_.push_back(std::unique_ptr<TLiveClient>(new TLiveClient{{}, std::move(*connection), name}));
    *reply = clients_.back()->Command(clientsim::ConnectLine(name, identifier, "abc")).value_or("(none)");
    return clients_.back().get();
  }

  // Sends an update for each client in alive_ every second until TearDown,
  // so that no client goes silent while the test waits for the browser.
  void StartKeepAlive() {
    keepAlive_ = std::thread([this] {
      std::unique_lock<std::mutex> lock(aliveLock_);
      while (!aliveWake_.wait_for(lock, std::chrono::seconds(1), [this] { return stopKeepAlive_; })) {
        const std::vector<TLiveClient*> clients = alive_;
        lock.unlock();
        for (TLiveClient* client : clients) client->Command(clientsim::UpdateLine(client->Name, "1"));
        lock.lock();
      }
    });
  }

  void KeepAlive(std::vector<TLiveClient*> clients) {
    std::lock_guard<std::mutex> guard(aliveLock_);
    alive_ = std::move(clients);
  }

  int SupervisionRuns() const {
    const std::vector<std::string> commands = game_.Commands();
    return static_cast<int>(std::count(commands.begin(), commands.end(), "zelk_stat 1"));
  }

  // Waits until done() holds: between checks for the next datagram at the game
  // server (at most 250 ms), the pace of everything the program does there,
  // draining the program's output.
  bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
      if (Clock::now() > deadline) return false;
      game_.WaitForDatagrams(game_.Datagrams().size() + 1, 250);
      server_->Output();
    }
    return true;
  }

  // Runs headless Chromium on the console with the extra arguments; what it
  // wrote on its standard output. The program's output is drained meanwhile.
  std::string RunChromium(const std::vector<std::string>& extra, const std::string& url) {
    const std::string profile = dir_.Path() + "chromium-profile-" + std::to_string(++browserRuns_);
    const std::string out = dir_.Path() + "chromium.out";
    const std::string err = dir_.Path() + "chromium.err";
    // Root needs --no-sandbox. The background services stay off, and since
    // some still ask (the update check, the network time, the account list),
    // no host name resolves: only the console's own 127.0.0.1 is reached.
    std::vector<std::string> args = {"-c", "exec \"$0\" \"$@\" >'" + out + "' 2>'" + err + "'", chromium_,
                                     "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                                     "--no-first-run", "--disable-background-networking",
                                     "--disable-component-update", "--disable-sync",
                                     "--host-resolver-rules=MAP * ~NOTFOUND , EXCLUDE 127.0.0.1",
                                     "--user-data-dir=" + profile, "--virtual-time-budget=5000"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(url);
    testenv::TChildProcess browser("/bin/sh", {}, dir_.Path(), args);
    const auto deadline = Clock::now() + std::chrono::milliseconds(kBrowserWaitMs);
    int status = -1;
    while ((status = browser.WaitForExit(250)) == -1 && Clock::now() < deadline) server_->Output();
    EXPECT_EQ(status, 0) << "chromium " << ::testing::PrintToString(extra) << ":\n" << testenv::ReadFile(err);
    return testenv::ReadFile(out);
  }

  std::string Url(const std::string& path = "/") const {
    return "http://127.0.0.1:" + std::to_string(webPort_) + path;
  }
  // The page's own URLs (built on location.origin) with the origin cut off.
  std::string PathOf(const std::string& url) const {
    return url.rfind(Url(""), 0) == 0 ? url.substr(Url("").size()) : url;
  }

  const gamesim::TSimPlayer kLonely{"Lonely", "127.0.0.9:27005", 7};
  std::string chromium_;
  testenv::TTempDir dir_;
  gamesim::TGameServerSim game_;
  registrysim::TRegistrySim registry_;
  int port_ = 0;
  int webPort_ = 0;
  int browserRuns_ = 0;
  std::optional<testenv::TChildProcess> server_;  // ends before the simulators
  std::vector<std::unique_ptr<TLiveClient>> clients_;

  std::mutex aliveLock_;  // guards alive_ and stopKeepAlive_
  std::condition_variable aliveWake_;
  std::vector<TLiveClient*> alive_;
  bool stopKeepAlive_ = false;
  std::thread keepAlive_;
};

TEST_F(WebConsoleBrowser, PageShowsPlayersClientsBanScreenshotAndLogs) {
  server_.emplace(dir_.Path() + "acserver", std::vector<std::string>{"LC_ALL=C", "ACSERVER_TICK_MS=100"}, "/");
  ASSERT_TRUE(server_->WaitForOutput("Server successfully started", 15000)) << server_->Output();
  ASSERT_NE(server_->Output().find("Web console: " + Url()), std::string::npos) << server_->Output();
  // Clients registered before the first supervision run would be reset with the tables.
  ASSERT_TRUE(WaitFor([&] { return SupervisionRuns() >= 1; }, kStepWaitMs)) << server_->Output();

  std::string reply;
  auto alice = Connect("Alice", "ALICE01", &reply);
  ASSERT_TRUE(alice && reply.rfind(kAcceptHead, 0) == 0) << clientsim::PrintableReply(reply);
  auto mallory = Connect("Mallory", "MALLORY03", &reply);
  ASSERT_TRUE(mallory && reply.rfind(kAcceptHead, 0) == 0) << clientsim::PrintableReply(reply);
  KeepAlive({alice, mallory});
  StartKeepAlive();

  // Their players join, with a player without a client and a bot.
  gamesim::TSimPlayer bot{"Zed", "", 5};
  bot.Kind = gamesim::TSimPlayerKind::Bot;
  game_.SetPlayers({{"Alice", "127.0.0.1:27005", 3}, {"Mallory", "127.0.0.1:27006", 4}, bot, kLonely});
  const int runsBeforeJoin = SupervisionRuns();
  ASSERT_TRUE(WaitFor([&] { return SupervisionRuns() >= runsBeforeJoin + 2; }, kStepWaitMs)) << server_->Output();
  ASSERT_EQ(alice->Command(clientsim::UpdateLine("Alice", "1")), "rpl:strue") << "Alice's player is listed";

  // Alice sends a screenshot.
  std::string error;
  auto pieces = clientsim::TPieceSender::Open(
      {*platform::ParseDottedAddress("127.0.0.1"), static_cast<uint16_t>(port_)}, "", &error);
  ASSERT_TRUE(pieces) << error;
  const std::string jpeg = testenv::ReadFile((kSourceDir / "tests" / "data" / "screen.jpg").string());
  clientsim::ScreenSendOptions options;
  options.Name = "Alice";
  const clientsim::ScreenSendResult sent = clientsim::SendScreenshot(
      [&](const std::string& line) { return alice->Command(line); }, *pieces, jpeg, options);
  ASSERT_TRUE(sent.Completed) << sent.Error << "\n" << server_->Output();
  ASSERT_TRUE(server_->WaitForOutput("Screen saved", 10000)) << server_->Output();

  // Mallory's client sends one too, then reports a cheat: she is banned, with
  // her screenshot as the ban's evidence.
  options.Name = "Mallory";
  const clientsim::ScreenSendResult malloryShot = clientsim::SendScreenshot(
      [&](const std::string& line) { return mallory->Command(line); }, *pieces, jpeg, options);
  ASSERT_TRUE(malloryShot.Completed) << malloryShot.Error << "\n" << server_->Output();
  ASSERT_TRUE(server_->WaitForOutput("Screen saved", 10000, 2)) << server_->Output();
  KeepAlive({alice});
  ASSERT_EQ(mallory->Command(clientsim::BanLine("Mallory", "wallhack")), "rpl:true") << server_->Output();
  // A run after the ban, so the report shows the players as they are now.
  const int runsAfterBan = SupervisionRuns() + 2;
  ASSERT_TRUE(WaitFor([&] { return SupervisionRuns() >= runsAfterBan; }, kStepWaitMs)) << server_->Output();

  // Opened with a user name and password in the address, as some admins do:
  // the page's requests must not carry them (fetch() refuses such URLs).
  const std::string dom = RunChromium({"--dump-dom"}, "http://admin:pw@127.0.0.1:" + std::to_string(webPort_) + "/#players");
  ASSERT_NE(dom.find("</html>"), std::string::npos) << dom;
  EXPECT_NE(dom.find("<section id=\"players\" class=\"on\">"), std::string::npos) << "the hash chose the tab";
  EXPECT_EQ(Between(dom, "<span id=\"stamp\" class=\"dim\">", "</span>").rfind("updated ", 0), 0u)
      << "the page's script ran and its last refresh succeeded:\n" << dom;

  // Players: protected by a client, kicked for having none, a bot not checked.
  const std::string playerBody = TableBody(dom, "playerRows");
  const auto players = TableRows(playerBody);
  // Each has a Kick button; only a player whose client is known can be banned.
  EXPECT_EQ(RowOf(players, "Alice"),
            (std::vector<std::string>{"Alice", "ALICE01", "127.0.0.1:27005", "3", "player", "client", "0", "Kick Ban"}))
      << "no earlier bans of her client's identifier: " << playerBody;
  EXPECT_EQ(RowOf(players, "Lonely"),
            (std::vector<std::string>{"Lonely", "-", "127.0.0.9:27005", "7", "player", "nobody: kicked", "-", "Kick"}))
      << playerBody;
  EXPECT_EQ(RowOf(players, "Zed"), (std::vector<std::string>{"Zed", "-", "-", "5", "bot", "not checked", "-", "Kick"}))
      << playerBody;
  EXPECT_TRUE(RowOf(players, "Mallory").empty()) << "kicked with her ban, she is gone: " << playerBody;

  // The overview: the list the players came from, the kick of the last run.
  const std::string cards = Between(dom, "<div class=\"cards\" id=\"cards\">", "</section>");
  EXPECT_NE(cards.find("Players read from<b>engine status list</b>"), std::string::npos) << cards;
  EXPECT_NE(cards.find("Bans active<b>1</b>"), std::string::npos) << cards;
  EXPECT_NE(TextOf(cards).find("Lonely (127.0.0.9): no anti-cheat client"), std::string::npos) << cards;
  EXPECT_NE(TextOf(cards).find("1 of 2 players protected"), std::string::npos) << "Alice, not Lonely: " << cards;
  EXPECT_EQ(cards.find("class=\"warn\""), std::string::npos) << "no warning for a timely, answered run: " << cards;

  // Clients: Alice stays; the ban removed Mallory's client.
  const std::string clientBody = TableBody(dom, "clientRows");
  const auto clients = TableRows(clientBody);
  ASSERT_EQ(clients.size(), 1u) << clientBody;
  ASSERT_EQ(clients[0].size(), 6u) << clientBody;
  EXPECT_EQ(clients[0][1], "Alice");
  EXPECT_EQ(clients[0][2], "ALICE01");
  EXPECT_EQ(clients[0][3], "127.0.0.1");

  // The ban in force, with its record's facts and its buttons.
  const std::string banBody = TableBody(dom, "banRows");
  const auto banRows = TableRows(banBody);
  ASSERT_EQ(banRows.size(), 1u) << banBody;
  ASSERT_EQ(banRows[0].size(), 8u) << banBody;
  EXPECT_NE(banRows[0][0], "-") << "the time it was made";
  EXPECT_EQ(std::vector<std::string>(banRows[0].begin() + 1, banRows[0].end()),
            (std::vector<std::string>{"MALLORY03", "Mallory", "127.0.0.1", "wallhack", "never",
                                      "report by Mallory (MALLORY03, 127.0.0.1)", "Details Lift"}))
      << banBody;
  EXPECT_NE(banBody.find("<button type=\"button\" data-id=\"MALLORY03\">Lift</button>"), std::string::npos) << banBody;

  // Its record through the API the page reads: made by the report, with
  // Mallory's screenshot (and not Alice's) as evidence.
  httplib::Client http("127.0.0.1", webPort_);
  http.set_url_encode(false);  // the page's links are sent as the browser sends them
  const httplib::Result found = http.Get("/api/bans?filter=all&q=MALLORY03");
  ASSERT_TRUE(found && found->status == 200);
  ASSERT_EQ(found->body.rfind("{\"total\":1,", 0), 0u) << found->body;
  const std::string id = Between(found->body, "{\"id\":", ",");
  const httplib::Result details = http.Get("/api/bans/" + id);
  ASSERT_TRUE(details && details->status == 200);
  EXPECT_NE(details->body.find("\"origin\":{\"kind\":\"report\",\"name\":\"Mallory\",\"identifier\":\"MALLORY03\","),
            std::string::npos)
      << details->body;
  const std::string evidence = Between(details->body, "\"evidence\":[\"", "]");
  EXPECT_EQ(evidence.rfind("127.0.0.1/", 0), 0u) << details->body;
  EXPECT_TRUE(evidence.ends_with("^ID^MALLORY03.jpg\"")) << "one screenshot, hers: " << details->body;
  EXPECT_TRUE(details->body.ends_with(",\"history\":[],\"history_total\":0,\"history_page\":1,\"history_per_page\":50}"))
      << details->body;

  // The page opened on that record shows the evidence it links to.
  const std::string detailsDom = RunChromium({"--dump-dom"}, Url("/#bans/" + id));
  EXPECT_NE(detailsDom.find("<section id=\"bans\" class=\"on\">"), std::string::npos) << detailsDom;
  const std::string shown = Between(detailsDom, "<div class=\"shots\" id=\"banEvidence\">", "</div>");
  const std::string evidenceSrc = PathOf(Between(shown, "<img src=\"", "\""));
  EXPECT_EQ(PercentDecoded(evidenceSrc), "/screens/" + evidence.substr(0, evidence.size() - 1)) << detailsDom;
  const httplib::Result evidenceImage = http.Get(evidenceSrc);
  ASSERT_TRUE(evidenceImage) << httplib::to_string(evidenceImage.error());
  EXPECT_EQ(evidenceImage->status, 200);
  EXPECT_TRUE(evidenceImage->body == jpeg) << "the evidence as sent, byte for byte";

  // The public ban list runs its script under its policy without an error
  // in the browser's console, and shows the ban, its evidence by number.
  const std::string publicDom = RunChromium({"--dump-dom", "--enable-logging=stderr", "--v=0"}, Url("/bans"));
  const std::string publicErrors = testenv::ReadFile(dir_.Path() + "chromium.err");
  EXPECT_EQ(publicErrors.find("CONSOLE"), std::string::npos) << publicErrors;
  EXPECT_EQ(publicErrors.find("Content Security Policy"), std::string::npos) << publicErrors;
  const auto publicRows = TableRows(TableBody(publicDom, "rows"));
  ASSERT_EQ(publicRows.size(), 1u) << publicDom;
  EXPECT_EQ(std::vector<std::string>(publicRows[0].begin(), publicRows[0].begin() + 3),
            (std::vector<std::string>{"Mallory", "MALLORY03", "wallhack"}))
      << publicDom;
  EXPECT_EQ(publicRows[0].back(), "Appeal Screenshots (1)") << publicDom;
  EXPECT_EQ(publicDom.find("127.0.0.1/"), std::string::npos) << "no path of a screenshot: " << publicDom;
  const httplib::Result publicShot = http.Get("/api/public/bans/" + id + "/evidence/0");
  ASSERT_TRUE(publicShot);
  EXPECT_TRUE(publicShot->body == jpeg) << "the evidence by its number";

  // The screenshot: grouped under its sender, and the link the page built
  // serves the very file that was sent.
  const std::string shots = Between(dom, "<div id=\"shotGroups\">", "</section>");
  const size_t aliceShots = shots.find("<h3>127.0.0.1 / ALICE01</h3>");
  ASSERT_NE(aliceShots, std::string::npos) << shots;
  const std::string src = PathOf(Between(shots, "<img src=\"", "\"", aliceShots));
  ASSERT_EQ(src.rfind("/screens/127.0.0.1/", 0), 0u) << shots;
  EXPECT_NE(PercentDecoded(src).find("^IP^127.0.0.1^ID^ALICE01.jpg"), std::string::npos) << src;
  {
    const httplib::Result image = http.Get(src);
    ASSERT_TRUE(image) << httplib::to_string(image.error());
    EXPECT_EQ(image->status, 200);
    EXPECT_EQ(image->get_header_value("Content-Type"), "image/jpeg");
    EXPECT_TRUE(image->body == jpeg) << "the screenshot as sent, byte for byte";
  }

  // The logs: the ban's line in the full log.
  const std::string fullLog = TextOf(Between(dom, "<pre id=\"fullLog\">", "</pre>"));
  EXPECT_NE(fullLog.find("with ID: MALLORY03; reason: wallhack"), std::string::npos) << fullLog;

  // The picture for the README: the players tab.
  const std::string picture = dir_.Path() + "console.png";
  RunChromium({"--window-size=1280,900", "--hide-scrollbars", "--screenshot=" + picture}, Url("/#players"));
  const std::string png = testenv::ReadFile(picture);
  ASSERT_EQ(png.rfind("\x89PNG\r\n\x1a\n", 0), 0u) << "no PNG at " << picture;
  // The README's copy is renewed only when asked (ACSERVER_UPDATE_SCREENSHOT=1),
  // so that a test run leaves the source tree as it found it.
  if (std::getenv("ACSERVER_UPDATE_SCREENSHOT") != nullptr) {
    std::error_code copied;
    fs::copy_file(picture, kSourceDir / "docs" / "console.png", fs::copy_options::overwrite_existing, copied);
    EXPECT_FALSE(copied) << copied.message();
  }

  server_->Signal(SIGTERM);
  EXPECT_EQ(server_->WaitForExit(15000), 0) << server_->Output();
}

}  // namespace
