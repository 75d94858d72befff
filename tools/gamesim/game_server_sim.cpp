#include "gamesim/game_server_sim.h"

#include <algorithm>
#include <chrono>

#include "gamesim/answers.h"
#include "gamesim/engine_name.h"
#include "gamesim/status_text.h"
#include "gamesim/tokens.h"

namespace gamesim {
namespace {

const std::string kHeader = "\xFF\xFF\xFF\xFF";
constexpr size_t kMaxCommandDatagram = 515;
constexpr size_t kFailuresForBan = 5;
constexpr size_t kFailuresKept = 10;  // the engine remembers the last 10 per address and port
constexpr int64_t kFailureWindowMs = 30000;
constexpr int64_t kRateWindowSeconds = 60;  // max_queries_window

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

TGameServerSim::TGameServerSim() = default;

TGameServerSim::~TGameServerSim() { Stop(); }

bool TGameServerSim::Start(uint16_t port, std::string* error) {
  auto socket = platform::TUdpSocket::Open(error);
  if (!socket || !socket->Bind(port, error, /*loopbackOnly=*/true)) return false;
  socket_ = std::move(*socket);
  port_ = socket_.LocalPort();  // set before the thread starts, never changed while it runs
  thread_ = std::thread([this] { Run(); });
  return true;
}

void TGameServerSim::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
  }
  socket_.Shutdown();  // wakes the receive at once
  thread_.join();
  socket_.Close();
}

void TGameServerSim::Run() {
  for (;;) {
    std::string data;
    platform::Endpoint from;
    std::string error;
    // The shutdown of Stop wakes this wait; the time-out only bounds it.
    const auto status = socket_.ReceiveFrom(data, from, 500, 8192, &error);
    std::vector<std::string> replies;
    std::vector<std::string> events;
    std::function<void(const std::string&)> sink;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (stopping_) return;
      if (status != platform::ReceiveStatus::Datagram) continue;
      replies = Handle(data, from);
      events.swap(events_);
      sink = sink_;
    }
    arrived_.notify_all();
    for (const std::string& reply : replies) socket_.SendTo(reply, from, &error);
    if (sink) {
      for (const std::string& event : events) sink(event);
    }
  }
}

std::vector<std::string> TGameServerSim::Handle(const std::string& data, const platform::Endpoint& from) {
  datagrams_.push_back(data);
  if (silent_) return {};
  const std::string ip = platform::DottedAddress(from.Address);
  const bool connectionless = data.compare(0, 4, kHeader) == 0;
  // The engine counts every connectionless datagram before it reads it.
  if (connectionless && !WithinRateLimit(ip)) return {};
  // A banned address gets this answer to anything, before any other check.
  if (banned_.count(ip)) return {BanDatagram()};
  if (!connectionless || data.size() <= 4) return {};
  // The engine reads the first line of the packet, up to a newline or a NUL.
  const std::string text = data.substr(4);
  const std::string line = text.substr(0, text.find_first_of(std::string("\n\0", 2)));
  const TTokens tokens = Tokenise(line);
  if (tokens.Words.empty()) return {};
  if (Lower(tokens.Words[0]) == "challenge") {
    if (tokens.Words.size() != 2 || Lower(tokens.Words[1]) != "rcon") return {};
    asked_.insert(ip);
    // The answer echoes the second word as sent ("RCON" stays upper case).
    return {ChallengeDatagram(ChallengeForLocked(ip), tokens.Words[1])};
  }
  if (tokens.Words[0] == "rcon") return HandleRcon(data, line, from);
  return {};
}

std::vector<std::string> TGameServerSim::HandleRcon(const std::string& data, const std::string& line,
                                                    const platform::Endpoint& from) {
  const TTokens tokens = Tokenise(line);
  const std::string ip = platform::DottedAddress(from.Address);
  const std::string ipAndPort = platform::EndpointText(from);
  std::vector<std::string> replies;
  // The engine's order of checks; only a wrong password counts as a failure,
  // and the reject of a bad challenge goes out during the check itself.
  enum { Valid, BadPassword, BadChallenge } check = Valid;
  auto failures = failures_.find(ipAndPort);
  if (tokens.Words.size() < 3 || password_.empty()) {
    check = BadPassword;
  } else if (failures != failures_.end() && failures->second.ShouldBan) {
    banned_.insert(ip);
    events_.push_back("banning " + ip + " for wrong remote-console passwords");
    check = BadPassword;
  } else if (!asked_.count(ip)) {
    replies.push_back(RejectDatagram("No challenge for your address.\n"));
    check = BadChallenge;
  } else if (EngineAtoi(tokens.Words[1]) != static_cast<int64_t>(ChallengeForLocked(ip))) {
    replies.push_back(RejectDatagram("Bad challenge.\n"));
    check = BadChallenge;
  } else if (tokens.Words[2] != password_) {
    CountFailure(ipAndPort);
    check = BadPassword;
  }
  if (data.size() > kMaxCommandDatagram || check == BadChallenge) return replies;
  if (check == BadPassword) {
    return Answer({password_.empty() ? "Bad rcon_password.\nNo password set for this server.\n"
                                     : "Bad rcon_password.\n"});
  }
  size_t start = tokens.End[2];
  while (start < line.size() && static_cast<unsigned char>(line[start]) <= ' ') ++start;
  const std::string command = line.substr(start);
  commands_.push_back(command);
  return Answer(Execute(command));
}

std::vector<std::string> TGameServerSim::Answer(const std::vector<std::string>& prints) {
  std::vector<std::string> datagrams;
  for (const std::string& text : AnswerTexts(prints)) {
    const std::string datagram = AnswerDatagram(text);
    std::vector<std::string> pieces = SplitIfLong(datagram, splitSequence_ + 1);
    if (pieces.size() > 1) {
      ++splitSequence_;
      if (splitOrder_ == TSplitOrder::Reversed) std::reverse(pieces.begin(), pieces.end());
    }
    datagrams.insert(datagrams.end(), pieces.begin(), pieces.end());
  }
  return datagrams;
}

void TGameServerSim::CountFailure(const std::string& ipAndPort) {
  TFailures& failures = failures_[ipAndPort];
  if (failures.ShouldBan) return;
  const int64_t now = NowMs();
  failures.StampsMs.push_back(now);
  if (failures.StampsMs.size() > kFailuresKept) failures.StampsMs.erase(failures.StampsMs.begin());
  const auto recent = std::count_if(failures.StampsMs.begin(), failures.StampsMs.end(),
                                    [now](int64_t stamp) { return now - stamp <= kFailureWindowMs; });
  if (static_cast<size_t>(recent) >= kFailuresForBan) {
    failures.ShouldBan = true;
    events_.push_back(ipAndPort + " will be banned at its next command");
  }
}

bool TGameServerSim::WithinRateLimit(const std::string& ip) {
  if (rateLimit_ <= 0) return true;
  const int64_t now = NowMs() / 1000;
  TRateWindow& window = rateWindows_[ip];
  // A window ends when more than its length has passed since it began.
  if (window.Count == 0 || now - window.StartSeconds > kRateWindowSeconds) window = {now, 0};
  if (++window.Count <= rateLimit_) return true;
  if (window.Count == rateLimit_ + 1) {
    events_.push_back("rate limit: " + ip + " sent " + std::to_string(rateLimit_) +
                      " datagrams in this window; the rest of it gets no answer");
  }
  return false;
}

uint32_t TGameServerSim::ChallengeForLocked(const std::string& address) {
  auto it = challenges_.find(address);
  if (it != challenges_.end()) return it->second;
  const uint32_t challenge = std::uniform_int_distribution<uint32_t>(1, 0x7FFFFFFF)(random_);
  challenges_[address] = challenge;
  return challenge;
}

uint32_t TGameServerSim::ChallengeFor(const std::string& address) {
  std::lock_guard<std::mutex> guard(lock_);
  return ChallengeForLocked(address);
}

void TGameServerSim::SetPassword(const std::string& password) {
  std::lock_guard<std::mutex> guard(lock_);
  password_ = password;
}

void TGameServerSim::SetHostname(const std::string& hostname) {
  std::lock_guard<std::mutex> guard(lock_);
  hostname_ = hostname;
}

std::string TGameServerSim::Hostname() const {
  std::lock_guard<std::mutex> guard(lock_);
  return hostname_;
}

void TGameServerSim::SetMaxPlayers(int slots) {
  std::lock_guard<std::mutex> guard(lock_);
  maxPlayers_ = slots;
}

void TGameServerSim::SetRateLimit(int perWindow) {
  std::lock_guard<std::mutex> guard(lock_);
  rateLimit_ = perWindow;
  rateWindows_.clear();
}

void TGameServerSim::SetVersion(const std::string& version) {
  std::lock_guard<std::mutex> guard(lock_);
  version_ = version;
}

void TGameServerSim::SetStatusMark(const std::string& mark) {
  std::lock_guard<std::mutex> guard(lock_);
  statusMark_ = mark;
}

void TGameServerSim::SetPlayers(const std::vector<TSimPlayer>& players) {
  std::lock_guard<std::mutex> guard(lock_);
  for (const TSimPlayer& player : players) nextUserId_ = std::max(nextUserId_, player.UserId + 1);
  players_.clear();
  // Those already listed keep their names; each one who joins is checked
  // against them and against those who joined before him.
  std::vector<std::string> listed;
  for (const TSimPlayer& player : players) {
    if (player.Listed) listed.push_back(player.Name);
  }
  for (TSimPlayer player : players) {
    if (!player.Listed) {
      player.Name = UniqueListedName(EngineName(player.Name), listed);
      player.Listed = true;
      listed.push_back(player.Name);
    }
    if (player.UserId == 0) player.UserId = nextUserId_++;
    if (player.UniqueId.empty()) player.UniqueId = DefaultUniqueId(player);
    players_.push_back(player);
  }
  for (TSimPlayer& player : players_) {
    for (int slot = 1; player.Slot == 0; ++slot) {
      if (std::none_of(players_.begin(), players_.end(), [slot](const TSimPlayer& p) { return p.Slot == slot; })) {
        player.Slot = slot;
      }
    }
  }
  // The engine lists its slots in order.
  std::stable_sort(players_.begin(), players_.end(),
                   [](const TSimPlayer& a, const TSimPlayer& b) { return a.Slot < b.Slot; });
}

void TGameServerSim::SetSilent(bool silent) {
  std::lock_guard<std::mutex> guard(lock_);
  silent_ = silent;
}

void TGameServerSim::SetOutput(const std::string& word, const std::string& text) {
  std::lock_guard<std::mutex> guard(lock_);
  outputs_[Lower(word)] = text;
}

void TGameServerSim::SetStatusAddon(bool present) {
  std::lock_guard<std::mutex> guard(lock_);
  statusAddon_ = present;
}

void TGameServerSim::SetChatAddon(bool present) {
  std::lock_guard<std::mutex> guard(lock_);
  chatAddon_ = present;
}

void TGameServerSim::SetSplitOrder(TSplitOrder order) {
  std::lock_guard<std::mutex> guard(lock_);
  splitOrder_ = order;
}

void TGameServerSim::SetEventSink(std::function<void(const std::string&)> sink) {
  std::lock_guard<std::mutex> guard(lock_);
  sink_ = std::move(sink);
}

std::vector<std::string> TGameServerSim::Datagrams() const {
  std::lock_guard<std::mutex> guard(lock_);
  return datagrams_;
}

std::vector<std::string> TGameServerSim::Commands() const {
  std::lock_guard<std::mutex> guard(lock_);
  return commands_;
}

std::vector<TSimKick> TGameServerSim::Kicks() const {
  std::lock_guard<std::mutex> guard(lock_);
  return kicks_;
}

std::vector<std::string> TGameServerSim::Chats() const {
  std::lock_guard<std::mutex> guard(lock_);
  return chats_;
}

std::vector<TSimChat> TGameServerSim::Messages() const {
  std::lock_guard<std::mutex> guard(lock_);
  return messages_;
}

std::vector<TSimPlayer> TGameServerSim::Players() const {
  std::lock_guard<std::mutex> guard(lock_);
  return players_;
}

std::vector<std::string> TGameServerSim::BannedAddresses() const {
  std::lock_guard<std::mutex> guard(lock_);
  return std::vector<std::string>(banned_.begin(), banned_.end());
}

bool TGameServerSim::WaitForDatagrams(size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> guard(lock_);
  return arrived_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                           [&] { return datagrams_.size() >= count; });
}

}  // namespace gamesim
