// The remote console client: one command to the game server over the
// challenge-and-command exchange of the rcon protocol, on the one socket
// RconClient.
//
// An exchange: the challenge request; one wait for the challenge answer; the
// command datagram; three waits for answer datagrams, each of which may stay
// empty. Every wait reads whatever datagram comes next on the socket, and the
// socket is never drained, so a datagram that arrives late is read by the next
// wait, even of a later exchange. That is why exchanges must never overlap:
// rconLock_ serialises them across the main thread (supervision, the
// advertisement) and the command threads (bans).
//
// The password goes in double quotes: a game server splits an unquoted word at
// blanks and at { } ( ) ' , : so such a password would never match, and five
// misses within 30 seconds get our address banned by the game server. A
// command datagram over 515 bytes is never sent, since the game server would
// drop it unexecuted.
#include <string>

#include "app/limits.h"
#include "app/server.h"
#include "app/settings.h"
#include "app/timing.h"
#include "game/rcon_limits.h"
#include "platform/console.h"
#include "platform/socket.h"
#include "platform/stop_signal.h"

namespace {

const std::string kHeader = "\xFF\xFF\xFF\xFF";
constexpr size_t kChallengePrefixBytes = 19;  // four 0xFF bytes and "challenge rcon "

// Waits for one datagram. True with the datagram, or with an empty text when
// the wait ran out or a stop was asked for; false on a socket error (or a
// datagram too long to take).
bool WaitDatagram(platform::TUdpSocket& socket, std::string& data) {
  platform::Endpoint from;
  std::string error;
  const auto status = socket.ReceiveFromUnlessStopped(data, from, Timing.RconWaitMs, kMaxDatagramBytes, &error);
  if (status == platform::ReceiveStatus::Datagram || status == platform::ReceiveStatus::Timeout) return true;
  data.clear();
  return false;
}

// The challenge in a challenge answer: after the first 19 bytes, the text up to
// the character in front of the first NUL (the newline). Empty when the answer
// has no NUL there.
std::string ChallengeOf(const std::string& answer) {
  if (answer.size() < kChallengePrefixBytes) return std::string();
  const size_t nul = answer.find('\0', kChallengePrefixBytes);
  if (nul == std::string::npos || nul == kChallengePrefixBytes) return std::string();
  return answer.substr(kChallengePrefixBytes, nul - kChallengePrefixBytes - 1);
}

// Everything after the first "l" (the type byte of an answer datagram); a text
// without one stays whole.
std::string AfterTypeByte(const std::string& datagram) {
  const size_t l = datagram.find('l');
  return l == std::string::npos ? datagram : datagram.substr(l + 1);
}

}  // namespace

std::string TServer::RconCommand(const std::string& command) {
  // An orderly stop starts no new exchange.
  if (platform::StopRequested()) return std::string();
  std::lock_guard<std::mutex> guard(rconLock_);

  uint8_t progress = 2;
  auto fail = [&progress] {
    platform::ConsoleLine("ERROR: CS server is not available.Code " + std::to_string(progress));
    return std::string("sinw");
  };
  std::string error;
  const auto address = platform::ResolveIpv4(Settings.RconHost, &error);
  if (!address) return fail();
  const platform::Endpoint server{*address, static_cast<uint16_t>(Settings.RconPort)};
  if (!RconClient.SendTo(kHeader + "challenge rcon", server, &error)) return fail();

  progress = 3;
  std::string challengeAnswer;
  if (!WaitDatagram(RconClient, challengeAnswer)) return fail();

  // A stop during the wait abandons the exchange before the command goes out:
  // sent with an empty challenge it would count as a wrong password.
  if (platform::StopRequested()) return std::string();

  progress = 4;
  const std::string challenge = ChallengeOf(challengeAnswer);

  progress = 5;
  const size_t bytes = RconDatagramBytes(challenge.size(), command);
  if (bytes > kMaxRconDatagramBytes) {
    // The game server would drop it unexecuted and unanswered; say so at once.
    platform::ConsoleLine("ERROR: CS server command of " + std::to_string(bytes) + " bytes is longer than " +
                          std::to_string(kMaxRconDatagramBytes) + " and was not sent: " + command.substr(0, 40));
    return std::string();
  }
  const std::string datagram = kHeader + "rcon " + challenge + " \"" + Settings.RconPass + "\" " + command;
  if (!RconClient.SendTo(datagram, server, &error)) return fail();
  std::string texts[3];
  if (!WaitDatagram(RconClient, texts[0])) return fail();

  // An error in the last two waits ends them silently; what was not read stays empty.
  progress = 6;
  if (WaitDatagram(RconClient, texts[1])) WaitDatagram(RconClient, texts[2]);

  progress = 7;
  for (std::string& text : texts) text = AfterTypeByte(text);

  progress = 8;
  return texts[0] + texts[1] + texts[2];
}
