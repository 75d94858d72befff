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
Answer Exchange(platform::TUdpSocket& socket) {
  std::string error;
  const auto address = platform::ResolveIpv4(Settings.RegistryHost, &error);
  if (!address) return Answer::Failed;
  const platform::Endpoint registry{*address, static_cast<uint16_t>(Settings.RegistryPort)};
  if (!socket.SendTo(RegistrationDatagram(), registry, &error)) return Answer::Failed;
  std::string data;
  platform::Endpoint from;
  switch (socket.ReceiveFromUnlessStopped(data, from, Timing.RegistryWaitMs, kMaxDatagramBytes, &error)) {
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

std::string RegistrationDatagram() {
  return "\xFF\xFF" "try_to_reg " + std::to_string(Settings.RconPort) + " " + Settings.ClientVersion + " " +
         kVersionText + "\x01";
}

void RegisterWithRegistry(platform::TUdpSocket& socket) {
  const Answer answer = Exchange(socket);
  if (answer == Answer::Failed) return;
  if (answer == Answer::Came) {
    platform::ConsoleLine("Your server has been successfully added to a ORBANE base.");
    Settings.Registered = true;
  } else {
    platform::ConsoleLine("No connection with ORBANE to register your server in base");
  }
  platform::ConsoleLine(std::string(46, '='));
}

void RefreshRegistration(platform::TUdpSocket& socket) {
  if (!Settings.Registered) return;
  if (Exchange(socket) == Answer::Silent) {
    platform::ConsoleLine("No connection with ORBANE to update your server in base");
  }
}
