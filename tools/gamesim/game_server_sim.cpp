#include "gamesim/game_server_sim.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>

namespace gamesim {
namespace {

const std::string kHeader = "\xFF\xFF\xFF\xFF";
constexpr size_t kMaxTextPerDatagram = 1399;
constexpr size_t kMaxCommandDatagram = 515;
constexpr int kFailuresForBan = 5;
constexpr int64_t kFailureWindowMs = 30000;

bool IsSingleCharToken(char c) {
  return std::strchr("{}()':,", c) != nullptr && c != '\0';
}

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Print output as answer datagrams: four 0xFF bytes, "l", at most 1399 text
// bytes, two NUL bytes. Empty output still gives one (empty) datagram.
std::vector<std::string> PrintDatagrams(const std::string& text) {
  std::vector<std::string> out;
  size_t at = 0;
  do {
    out.push_back(kHeader + "l" + text.substr(at, kMaxTextPerDatagram) + std::string(2, '\0'));
    at += kMaxTextPerDatagram;
  } while (at < text.size());
  return out;
}

// The engine's atoi: leading blanks, an optional sign, digits; 0 for none.
int64_t EngineAtoi(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

}  // namespace

TTokens Tokenise(const std::string& line) {
  TTokens tokens;
  size_t i = 0;
  for (;;) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    std::string word;
    if (line[i] == '"') {
      ++i;
      while (i < line.size() && line[i] != '"') word += line[i++];
      if (i < line.size()) ++i;  // the closing quote
    } else if (IsSingleCharToken(line[i])) {
      word = line[i++];
    } else {
      while (i < line.size() && !IsBlank(line[i]) && !IsSingleCharToken(line[i])) {
        word += line[i++];
      }
    }
    tokens.Words.push_back(word);
    tokens.End.push_back(i);
  }
  return tokens;
}

TGameServerSim::TGameServerSim() = default;

TGameServerSim::~TGameServerSim() { Stop(); }

bool TGameServerSim::Start(uint16_t port, std::string* error) {
  auto socket = platform::TUdpSocket::Open(error);
  if (!socket || !socket->Bind(port, error, /*loopbackOnly=*/true)) return false;
  socket_ = std::move(*socket);
  port_ = socket_.LocalPort();
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
  const std::string address = platform::DottedAddress(from.Address);
  if (silent_) return {};
  if (banned_[address]) return PrintDatagrams("You have been banned from this server.\n");
  if (data.compare(0, 4, kHeader) != 0 || data.size() <= 4) return {};
  // The engine reads the first line of the packet, up to a newline or a NUL.
  const std::string text = data.substr(4);
  const std::string line = text.substr(0, text.find_first_of(std::string("\n\0", 2)));
  const TTokens tokens = Tokenise(line);
  if (tokens.Words.empty()) return {};
  if (tokens.Words[0] == "challenge") {
    if (tokens.Words.size() != 2 || tokens.Words[1] != "rcon") return {};
    return {kHeader + "challenge rcon " + std::to_string(ChallengeForLocked(address)) + "\n" + std::string(1, '\0')};
  }
  if (tokens.Words[0] == "rcon") return HandleRcon(data, line, address);
  return {};
}

std::vector<std::string> TGameServerSim::HandleRcon(const std::string& data, const std::string& line,
                                                    const std::string& address) {
  const TTokens tokens = Tokenise(line);
  enum { Valid, BadPassword, NoPassword, BadChallenge } check = Valid;
  if (tokens.Words.size() < 3) {
    check = BadPassword;
  } else if (password_.empty()) {
    check = NoPassword;
  } else if (tokens.Words[2] != password_) {
    check = BadPassword;
  } else if (EngineAtoi(tokens.Words[1]) != ChallengeForLocked(address)) {
    check = BadChallenge;
  }
  if (check == BadPassword && CountFailure(address)) banned_[address] = true;
  if (data.size() > kMaxCommandDatagram) return {};
  switch (check) {
    case BadPassword:
      return PrintDatagrams("Bad rcon_password.\n");
    case NoPassword:
      return PrintDatagrams("Bad rcon_password.\nNo password set for this server.\n");
    case BadChallenge:
      return {kHeader + "9Bad challenge.\n" + std::string(1, '\0')};
    case Valid:
      break;
  }
  size_t start = tokens.End[2];
  while (start < line.size() && IsBlank(line[start])) ++start;
  const std::string command = line.substr(start);
  commands_.push_back(command);
  return PrintDatagrams(Execute(command));
}

bool TGameServerSim::CountFailure(const std::string& address) {
  const int64_t now = NowMs();
  auto& stamps = failures_[address];
  stamps.push_back(now);
  stamps.erase(std::remove_if(stamps.begin(), stamps.end(),
                              [now](int64_t stamp) { return now - stamp > kFailureWindowMs; }),
               stamps.end());
  return static_cast<int>(stamps.size()) >= kFailuresForBan;
}

std::string TGameServerSim::Execute(const std::string& command) {
  const TTokens tokens = Tokenise(command);
  if (tokens.Words.empty()) return std::string();
  const std::string& word = tokens.Words[0];
  auto canned = outputs_.find(word);
  if (canned != outputs_.end()) return canned->second;
  if (word == "zelk_stat") {
    events_.push_back("status asked: " + std::to_string(players_.size()) + " players, mark " + statusMark_);
    return StatusText();
  }
  if (word == "kick" && tokens.Words.size() >= 2) {
    TSimKick kick{tokens.Words[1], tokens.Words.size() >= 3 ? tokens.Words[2] : std::string(), false};
    auto it = std::find_if(players_.begin(), players_.end(),
                           [&](const TSimPlayer& p) { return Lower(p.Name) == Lower(kick.Name); });
    if (it != players_.end()) {
      players_.erase(it);
      kick.Found = true;
    }
    kicks_.push_back(kick);
    events_.push_back("kick \"" + kick.Name + "\" (" + (kick.Found ? "left" : "not found") + "): " + kick.Text);
    return std::string();
  }
  if (word == "amx_tsay") {
    const std::string args = command.size() > tokens.End[0] ? command.substr(tokens.End[0] + 1) : std::string();
    chats_.push_back(args);
    events_.push_back("chat: " + args);
    static const char* const kColours[] = {"white", "red",     "green",  "blue",  "yellow",
                                           "magenta", "cyan", "orange", "ocean", "maroon"};
    std::string shown = args;
    for (const char* colour : kColours) {
      const std::string prefix = std::string(colour) + " ";
      if (args.rfind(prefix, 0) == 0) shown = args.substr(prefix.size());
    }
    return hostname_ + " :  " + shown + "\n";
  }
  events_.push_back("unknown command: " + command);
  return std::string();
}

std::string TGameServerSim::StatusText() const {
  std::string text = "\\" + hostname_ + "\\\\" + statusMark_ + "\\";
  for (const TSimPlayer& player : players_) text += "\\" + player.Name + "\\\\" + player.Address + "\\";
  return text;
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

void TGameServerSim::SetStatusMark(const std::string& mark) {
  std::lock_guard<std::mutex> guard(lock_);
  statusMark_ = mark;
}

void TGameServerSim::SetPlayers(const std::vector<TSimPlayer>& players) {
  std::lock_guard<std::mutex> guard(lock_);
  players_ = players;
}

void TGameServerSim::SetSilent(bool silent) {
  std::lock_guard<std::mutex> guard(lock_);
  silent_ = silent;
}

void TGameServerSim::SetOutput(const std::string& word, const std::string& text) {
  std::lock_guard<std::mutex> guard(lock_);
  outputs_[word] = text;
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

std::vector<TSimPlayer> TGameServerSim::Players() const {
  std::lock_guard<std::mutex> guard(lock_);
  return players_;
}

bool TGameServerSim::WaitForDatagrams(size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> guard(lock_);
  return arrived_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                           [&] { return datagrams_.size() >= count; });
}

}  // namespace gamesim
