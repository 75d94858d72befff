// The datagrams a GoldSrc server sends on its remote console, byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gamesim {

constexpr size_t kMaxTextPerDatagram = 1399;  // the engine's redirect buffer less its NUL
constexpr size_t kMaxPlainDatagram = 1400;    // longer datagrams go out as split packets
constexpr size_t kMaxSplitPayload = 1391;     // 1400 less the 9-byte split header

// The texts of the answer datagrams for a sequence of print calls: a datagram is
// sent when the next print would not fit in 1399 bytes, so cuts fall between
// print calls, anywhere in a line. A single print longer than 1399 bytes is cut
// to 1399, as the engine's bounded append does. No prints give one empty text.
std::vector<std::string> AnswerTexts(const std::vector<std::string>& prints);

// FF FF FF FF 'l' text NUL NUL.
std::string AnswerDatagram(const std::string& text);
// FF FF FF FF 'l' "You have been banned from this server.\n" NUL: one NUL only.
std::string BanDatagram();
// FF FF FF FF '9' text NUL.
std::string RejectDatagram(const std::string& text);
// FF FF FF FF "challenge rcon <N>\n" NUL.
std::string ChallengeDatagram(uint32_t challenge, const std::string& word = "rcon");

// A datagram of at most 1400 bytes as it is; a longer one as split packets:
// FE FF FF FF, the sequence number (32-bit little-endian), one byte with the
// piece count in the low and the piece index in the high 4 bits, then at most
// 1391 bytes of the datagram. Returned in index order.
std::vector<std::string> SplitIfLong(const std::string& datagram, uint32_t sequence);

}  // namespace gamesim
