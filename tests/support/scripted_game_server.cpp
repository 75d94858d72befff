#include "support/scripted_game_server.h"

namespace scripted {

platform::Endpoint Server() { return platform::Endpoint{0x7F000001, 27015}; }
platform::Endpoint OtherPort() { return platform::Endpoint{0x7F000001, 27016}; }

std::string ChallengeAnswer(const std::string& number) {
  return kFF + "challenge rcon " + number + "\n" + std::string(1, '\0');
}

std::string Answer(const std::string& text) { return kFF + "l" + text + std::string(2, '\0'); }

std::string Reject(const std::string& text) { return kFF + "9" + text + std::string(1, '\0'); }

std::vector<std::string> SplitPackets(const std::string& datagram, uint32_t sequence) {
  const size_t kPieceBytes = 1391;
  const size_t count = (datagram.size() + kPieceBytes - 1) / kPieceBytes;
  std::vector<std::string> pieces;
  for (size_t index = 0; index < count; ++index) {
    std::string piece = "\xFE\xFF\xFF\xFF";
    for (int i = 0; i < 4; ++i) piece += static_cast<char>((sequence >> (8 * i)) & 0xFF);
    piece += static_cast<char>((index << 4) | count);
    piece += datagram.substr(index * kPieceBytes, kPieceBytes);
    pieces.push_back(piece);
  }
  return pieces;
}

bool TScriptedLink::Send(const std::string& datagram, const platform::Endpoint&, std::string*) {
  const auto reaction = after_.find(static_cast<int>(Sent.size()));
  Sent.push_back(datagram);
  if (reaction != after_.end()) queue_.insert(queue_.end(), reaction->second.begin(), reaction->second.end());
  return true;
}

platform::ReceiveStatus TScriptedLink::Receive(std::string& data, platform::Endpoint& from, int timeoutMs,
                                               std::string*) {
  WaitsMs.push_back(timeoutMs);
  if (queue_.empty()) {
    data.clear();
    return platform::ReceiveStatus::Timeout;
  }
  data = queue_.front().Data;
  from = queue_.front().From;
  queue_.erase(queue_.begin());
  return platform::ReceiveStatus::Datagram;
}

}  // namespace scripted
