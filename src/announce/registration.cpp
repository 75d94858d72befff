// The announcement to the central registry (ORBANE): one datagram at start-up
// and again whenever the game server's status mark changes. Any answer within
// the wait counts as acceptance; only a start-up registration that was answered
// turns the refreshes on. A socket error in either operation is dropped
// without any line, as the registry is never essential.
#include "announce/registration.h"

#include <string>

#include "base/limits.h"
#include "base/settings.h"
#include "base/timing.h"
#include "platform/console.h"
#include "platform/socket.h"

namespace {

enum class Answer { Came, Silent, Failed };

// Sends the datagram to the registry (its host resolved anew) and waits for
// one datagram from anyone.
Answer Exchange(platform::TUdpSocket& socket, const SettingsRecord& settings, const TimingRecord& timing) {
  std::string error;
  const auto address = platform::ResolveIpv4(settings.RegistryHost, &error);
  if (!address) return Answer::Failed;
  const platform::Endpoint registry{*address, static_cast<uint16_t>(settings.RegistryPort)};
  if (!socket.SendTo(RegistrationDatagram(settings), registry, &error)) return Answer::Failed;
  std::string data;
  platform::Endpoint from;
  switch (socket.ReceiveFromUnlessStopped(data, from, timing.RegistryWaitMs, kMaxDatagramBytes, &error)) {
    case platform::ReceiveStatus::Datagram:
      return data.empty() ? Answer::Silent : Answer::Came;
    case platform::ReceiveStatus::TooLong:  // an answer, only a big one
      return Answer::Came;
    case platform::ReceiveStatus::Timeout:
      return Answer::Silent;
    case platform::ReceiveStatus::Error:
      break;
  }
  return Answer::Failed;
}

}  // namespace

std::string RegistrationDatagram(const SettingsRecord& settings) {
  return "\xFF\xFF" "try_to_reg " + std::to_string(settings.RconPort) + " " + settings.ClientVersion + " " +
         kVersionText + "\x01";
}

bool RegisterWithRegistry(platform::TUdpSocket& socket, const SettingsRecord& settings, const TimingRecord& timing) {
  const Answer answer = Exchange(socket, settings, timing);
  if (answer == Answer::Failed) return false;
  if (answer == Answer::Came) {
    platform::ConsoleLine("Your server has been successfully added to a ORBANE base.");
  } else {
    platform::ConsoleLine("No connection with ORBANE to register your server in base");
  }
  platform::ConsoleLine(std::string(46, '='));
  return answer == Answer::Came;
}

void RefreshRegistration(platform::TUdpSocket& socket, const SettingsRecord& settings, const TimingRecord& timing) {
  if (Exchange(socket, settings, timing) == Answer::Silent) {
    platform::ConsoleLine("No connection with ORBANE to update your server in base");
  }
}
