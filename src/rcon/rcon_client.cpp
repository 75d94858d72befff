#include "rcon/rcon_client.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "base/limits.h"
#include "base/metrics.h"
#include "base/settings.h"
#include "base/timing.h"
#include "rcon/rcon_limits.h"
#include "log/logs.h"
#include "platform/console.h"
#include "platform/stop_signal.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kHeader = "\xFF\xFF\xFF\xFF";
const std::string kSplitHeader = "\xFE\xFF\xFF\xFF";
constexpr size_t kSplitPrefixBytes = 9;  // header, 32-bit sequence, index and count byte
const std::string kChallengeWords = "challenge rcon ";
const std::string kBannedText = "You have been banned from this server.";
const std::string kBadPasswordText = "Bad rcon_password.";

bool SameEndpoint(const platform::Endpoint& a, const platform::Endpoint& b) {
  return a.Address == b.Address && a.Port == b.Port;
}

// The text of a datagram after its header byte, up to its first NUL.
std::string TextOf(const std::string& datagram, size_t from) {
  if (from >= datagram.size()) return std::string();
  const size_t nul = datagram.find('\0', from);
  return datagram.substr(from, nul == std::string::npos ? std::string::npos : nul - from);
}

// The digits of "challenge rcon <digits>" (a newline may follow); nullopt for
// any other datagram.
std::optional<std::string> ChallengeIn(const std::string& datagram) {
  if (datagram.compare(0, 4, kHeader) != 0) return std::nullopt;
  std::string text = TextOf(datagram, 4);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (text.compare(0, kChallengeWords.size(), kChallengeWords) != 0) return std::nullopt;
  const std::string digits = text.substr(kChallengeWords.size());
  if (digits.empty() || digits.size() > kMaxChallengeChars) return std::nullopt;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  return digits;
}

// Joins split packets into the datagram they came from. Pieces of one datagram
// share a sequence number; a set still incomplete when the exchange ends is
// dropped with the assembler.
class TSplitAssembler {
 public:
  // The whole datagram once its last piece arrived; nullopt before that, and
  // for a piece that is malformed.
  std::optional<std::string> Add(const std::string& piece) {
    if (piece.size() < kSplitPrefixBytes) return std::nullopt;
    uint32_t sequence = 0;
    for (int i = 3; i >= 0; --i) sequence = (sequence << 8) | static_cast<unsigned char>(piece[4 + i]);
    const auto packed = static_cast<unsigned char>(piece[8]);
    const unsigned count = packed & 0x0F;
    const unsigned index = packed >> 4;
    if (count == 0 || index >= count) return std::nullopt;
    std::vector<std::optional<std::string>>& set = sets_[sequence];
    if (set.size() != count) set.assign(count, std::nullopt);
    set[index] = piece.substr(kSplitPrefixBytes);
    std::string whole;
    for (const auto& part : set) {
      if (!part) return std::nullopt;
      whole += *part;
    }
    sets_.erase(sequence);
    return whole;
  }

 private:
  std::map<uint32_t, std::vector<std::optional<std::string>>> sets_;
};

// The waits of one exchange against one game server endpoint: each reads the
// datagrams that arrive until one counts or the deadline passes, skipping
// those from elsewhere and joining split packets.
class TExchangeWaits {
 public:
  TExchangeWaits(TRconLink& link, const platform::Endpoint& server) : link_(link), server_(server) {}

  // Reads and drops whatever is queued already.
  void Drain() {
    std::string data;
    platform::Endpoint from;
    for (;;) {
      const auto status = link_.Receive(data, from, 0, nullptr);
      if (status != platform::ReceiveStatus::Datagram && status != platform::ReceiveStatus::TooLong) return;
    }
  }

  // The next whole datagram from the game server before the deadline.
  // Timeout when the deadline passed; Error on a socket error.
  platform::ReceiveStatus Next(Clock::time_point deadline, std::string& datagram) {
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left < 0) return platform::ReceiveStatus::Timeout;
      platform::Endpoint from;
      std::string error;
      const auto status = link_.Receive(datagram, from, static_cast<int>(left), &error);
      if (status == platform::ReceiveStatus::Timeout || status == platform::ReceiveStatus::Error) return status;
      if (status != platform::ReceiveStatus::Datagram || !SameEndpoint(from, server_)) continue;
      if (datagram.compare(0, 4, kSplitHeader) == 0) {
        std::optional<std::string> whole = splits_.Add(datagram);
        if (!whole) continue;
        datagram = std::move(*whole);
      }
      return platform::ReceiveStatus::Datagram;
    }
  }

 private:
  TRconLink& link_;
  platform::Endpoint server_;
  TSplitAssembler splits_;
};

Clock::time_point After(int ms) { return Clock::now() + std::chrono::milliseconds(ms); }

RconResult Failure(uint8_t progress) {
  platform::ConsoleLine("ERROR: CS server is not available.Code " + std::to_string(progress));
  return RconResult{RconOutcome::Failed, std::string()};
}

bool IsBannedText(const std::string& text) { return text.compare(0, kBannedText.size(), kBannedText) == 0; }

bool IsRefusalText(const std::string& text) {
  return text.compare(0, kBadPasswordText.size(), kBadPasswordText) == 0;
}

// A reason the game server printed, as one short line for the console.
std::string OneLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text.substr(0, 60);
}

RconResult RunExchange(TRconLink& link, const platform::Endpoint& server, const std::string& command,
                       const SettingsRecord& settings, const TimingRecord& timing);


}  // namespace

std::string HealthName(RconHealth health) {
  switch (health) {
    case RconHealth::Answering:
      return "answering";
    case RconHealth::NotAnswering:
      return "not answering";
    case RconHealth::RefusesPassword:
      return "refuses our rcon password";
    case RconHealth::RejectsChallenge:
      return "rejects our challenge";
    case RconHealth::BannedUs:
      return "has banned our address";
    case RconHealth::Unknown:
      break;
  }
  return "unknown";
}

std::string RconOutcomeText(RconOutcome outcome) {
  switch (outcome) {
    case RconOutcome::NoAnswer:
      return "the game server did not answer";
    case RconOutcome::NoChallenge:
      return "no challenge from the game server, nothing sent";
    case RconOutcome::Refused:
      return "the game server refused our rcon password";
    case RconOutcome::Rejected:
      return "the game server rejected our challenge";
    case RconOutcome::Banned:
      return "the game server has banned our address";
    case RconOutcome::NotSent:
      return "the command was too long to send";
    case RconOutcome::Stopped:
      return "the server is stopping";
    case RconOutcome::Withheld:
      return "rcon withheld after repeated password refusals";
    case RconOutcome::Failed:
    case RconOutcome::Answered:
      break;
  }
  return "socket or address error";
}

bool TRconClient::Open(std::string* error) {
  std::unique_ptr<TRconLink> link = OpenUdpRconLink(error);
  if (!link) return false;
  UseLink(std::move(link));
  return true;
}

void TRconClient::UseLink(std::unique_ptr<TRconLink> link) {
  TMutexLock guard(lock_);
  link_ = std::move(link);
}

void TRconClient::Close() {
  TMutexLock guard(lock_);
  link_.reset();
}

std::string TRconClient::Command(const std::string& command) {
  RconResult result = Exchange(command);
  switch (result.Outcome) {
    case RconOutcome::Answered:
      return std::move(result.Text);
    case RconOutcome::NoAnswer:
    case RconOutcome::NotSent:
    case RconOutcome::Stopped:
      return std::string();
    case RconOutcome::Refused:
    case RconOutcome::Withheld:
    case RconOutcome::NoChallenge:
    case RconOutcome::Rejected:
    case RconOutcome::Banned:
    case RconOutcome::Failed:
      break;
  }
  return "sinw";
}

RconResult TRconClient::Exchange(const std::string& command) {
  // An orderly stop starts no new exchange.
  if (platform::StopRequested()) return RconResult{RconOutcome::Stopped, std::string()};
  // The host is resolved before the lock: a name look-up can take seconds,
  // and no other exchange (nor a health query) should wait for it.
  std::string error;
  const std::optional<uint32_t> address = platform::ResolveIpv4(settings_.RconHost, &error);
  TMutexLock guard(lock_);
  if (withholding_) return RconResult{RconOutcome::Withheld, std::string()};
  const Clock::time_point start = Clock::now();
  RconResult result = !link_     ? Failure(1)
                      : !address ? Failure(2)
                                 : RunExchange(*link_, {*address, static_cast<uint16_t>(settings_.RconPort)}, command,
                                               settings_, timing_);
  ++Metrics.RconExchanges;
  Metrics.RconExchangeMicros +=
      static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
  if (result.Outcome != RconOutcome::Answered && result.Outcome != RconOutcome::NoAnswer) ++Metrics.RconFailures;
  NoteHealth(result);
  NoteRefusals(result);
  return result;
}

RconHealth TRconClient::Health() {
  TMutexLock guard(lock_);
  return health_;
}

bool TRconClient::Withholding() {
  TMutexLock guard(lock_);
  return withholding_;
}

void TRconClient::NoteRefusals(const RconResult& result) {
  if (result.Outcome == RconOutcome::Answered) refusalsInARow_ = 0;
  if (result.Outcome != RconOutcome::Refused || ++refusalsInARow_ < kMaxRefusalsInARow) return;
  withholding_ = true;
  WriteEvent("The game server refused our rcon password " + std::to_string(refusalsInARow_) +
             " times in a row; acserver stops asking the game server: fix rconpass and restart");
}

void TRconClient::NoteHealth(const RconResult& result) {
  RconHealth health = RconHealth::NotAnswering;
  switch (result.Outcome) {
    case RconOutcome::Answered:
      health = RconHealth::Answering;
      break;
    case RconOutcome::Refused:
      health = RconHealth::RefusesPassword;
      break;
    case RconOutcome::Rejected:
      health = RconHealth::RejectsChallenge;
      break;
    case RconOutcome::Banned:
      health = RconHealth::BannedUs;
      break;
    case RconOutcome::NotSent:
    case RconOutcome::Stopped:
    case RconOutcome::Withheld:
      return;
    case RconOutcome::NoAnswer:
    case RconOutcome::NoChallenge:
    case RconOutcome::Failed:
      break;
  }
  if (health == health_) return;
  health_ = health;
  if (health != RconHealth::NotAnswering) {
    WriteEvent("Game server health: " + HealthName(health));
    return;
  }
  // Silence has several causes that look alike from here; the line names them
  // all, the engine's rate limit above all, since it silences a running game
  // server that answers every other tool.
  WriteEvent("Game server health: " + HealthName(health) + " at " + settings_.RconHost + ":" + std::to_string(settings_.RconPort) +
             "; possible causes: the game server is down or restarting, wrong rconhost or rconport, a firewall,"
             " or the game server's limit of 180 rcon datagrams a minute per address was reached (another rcon"
             " tool on this address, an admin panel or HLSW, shares it)");
}

namespace {

RconResult RunExchange(TRconLink& link, const platform::Endpoint& server, const std::string& command,
                       const SettingsRecord& settings, const TimingRecord& timing) {
  std::string error;
  TExchangeWaits waits(link, server);
  waits.Drain();
  if (!link.Send(kHeader + "challenge rcon", server, &error)) return Failure(2);

  // The challenge: every other datagram of the game server is skipped, but a
  // ban notice says why no challenge will come.
  std::optional<std::string> challenge;
  bool banned = false;
  const Clock::time_point challengeDeadline = After(timing.RconWaitMs);
  while (!challenge) {
    std::string datagram;
    const auto status = waits.Next(challengeDeadline, datagram);
    if (status == platform::ReceiveStatus::Error) return Failure(3);
    if (status == platform::ReceiveStatus::Timeout) break;
    challenge = ChallengeIn(datagram);
    if (!challenge && datagram.compare(0, 5, kHeader + "l") == 0) banned = banned || IsBannedText(TextOf(datagram, 5));
  }
  // A stop during the wait abandons the exchange before the command goes out.
  if (platform::StopRequested()) return RconResult{RconOutcome::Stopped, std::string()};
  if (!challenge) return RconResult{banned ? RconOutcome::Banned : RconOutcome::NoChallenge, std::string()};

  const size_t bytes = RconDatagramBytes(settings, challenge->size(), command);
  if (bytes > kMaxRconDatagramBytes) {
    // The game server would drop it unexecuted and unanswered; say so at once.
    platform::ConsoleLine("ERROR: CS server command of " + std::to_string(bytes) + " bytes is longer than " +
                          std::to_string(kMaxRconDatagramBytes) + " and was not sent: " + command.substr(0, 40));
    return RconResult{RconOutcome::NotSent, std::string()};
  }
  if (!link.Send(kHeader + "rcon " + *challenge + " \"" + settings.RconPass + "\" " + command, server, &error)) {
    return Failure(5);
  }

  RconResult result{RconOutcome::NoAnswer, std::string()};
  Clock::time_point deadline = After(timing.RconWaitMs);
  for (int received = 0; received < kMaxRconAnswerDatagrams;) {
    std::string datagram;
    const auto status = waits.Next(deadline, datagram);
    if (status == platform::ReceiveStatus::Error) {
      // An error before any answer fails the exchange; after one it only ends it.
      if (received == 0) return Failure(5);
      break;
    }
    if (status == platform::ReceiveStatus::Timeout) break;
    if (datagram.compare(0, 5, kHeader + "9") == 0) {
      platform::ConsoleLine("ERROR: CS server rejected our rcon challenge: " + OneLine(TextOf(datagram, 5)));
      return RconResult{RconOutcome::Rejected, std::string()};
    }
    if (datagram.compare(0, 5, kHeader + "l") != 0) continue;
    const std::string text = TextOf(datagram, 5);
    result.Outcome = RconOutcome::Answered;
    result.Text += text;
    ++received;
    deadline = After(text.size() < kRconFullAnswerChars ? timing.RconGraceMs : timing.RconMoreMs);
  }
  if (result.Outcome == RconOutcome::Answered && IsBannedText(result.Text)) result.Outcome = RconOutcome::Banned;
  if (result.Outcome == RconOutcome::Answered && IsRefusalText(result.Text)) result.Outcome = RconOutcome::Refused;
  return result;
}

}  // namespace
