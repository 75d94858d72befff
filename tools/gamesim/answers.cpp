#include "gamesim/answers.h"

namespace gamesim {
namespace {

const std::string kHeader = "\xFF\xFF\xFF\xFF";

}  // namespace

std::vector<std::string> AnswerTexts(const std::vector<std::string>& prints) {
  std::vector<std::string> texts;
  std::string buffer;
  for (const std::string& print : prints) {
    if (buffer.size() + print.size() > kMaxTextPerDatagram) {
      texts.push_back(buffer);
      buffer.clear();
    }
    buffer += print.substr(0, kMaxTextPerDatagram - buffer.size());
  }
  texts.push_back(buffer);
  return texts;
}

std::string AnswerDatagram(const std::string& text) { return kHeader + "l" + text + std::string(2, '\0'); }

std::string BanDatagram() {
  return kHeader + "lYou have been banned from this server.\n" + std::string(1, '\0');
}

std::string RejectDatagram(const std::string& text) { return kHeader + "9" + text + std::string(1, '\0'); }

std::string ChallengeDatagram(uint32_t challenge, const std::string& word) {
  return kHeader + "challenge " + word + " " + std::to_string(challenge) + "\n" + std::string(1, '\0');
}

std::vector<std::string> SplitIfLong(const std::string& datagram, uint32_t sequence) {
  if (datagram.size() <= kMaxPlainDatagram) return {datagram};
  const size_t count = (datagram.size() + kMaxSplitPayload - 1) / kMaxSplitPayload;
  std::vector<std::string> pieces;
  for (size_t index = 0; index < count; ++index) {
    std::string piece = "\xFE\xFF\xFF\xFF";
    for (int shift = 0; shift < 32; shift += 8) piece += static_cast<char>((sequence >> shift) & 0xFF);
    piece += static_cast<char>((index << 4) | count);
    piece += datagram.substr(index * kMaxSplitPayload, kMaxSplitPayload);
    pieces.push_back(piece);
  }
  return pieces;
}

}  // namespace gamesim
