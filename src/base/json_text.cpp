#include "base/json_text.h"

#include <cstdio>

namespace {

// The characters of cp1251's bytes 0x80 to 0xFF (0x98 has none: U+FFFD).
constexpr char16_t kCp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C,
    0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122, 0x0459, 0x203A,
    0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9,
    0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    // 0xC0..0xFF: А..я
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D,
    0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B,
    0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439,
    0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

void AppendUtf8(std::string& out, char16_t character) {
  if (character < 0x800) {
    out += static_cast<char>(0xC0 | (character >> 6));
  } else {
    out += static_cast<char>(0xE0 | (character >> 12));
    out += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
  }
  out += static_cast<char>(0x80 | (character & 0x3F));
}

// The length of the well-formed UTF-8 sequence at text[at] (a lead byte of
// 0x80 or more), or 0 when it is none: no overlong forms, no surrogates,
// nothing past U+10FFFF.
size_t Utf8SequenceLength(const std::string& text, size_t at) {
  const auto byte = [&text](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0; };
  const unsigned char lead = byte(at);
  const auto continuation = [](unsigned char b) { return (b & 0xC0) == 0x80; };
  if (lead >= 0xC2 && lead <= 0xDF) return continuation(byte(at + 1)) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    const unsigned char second = byte(at + 1);
    const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
    return second >= low && second <= high && continuation(byte(at + 2)) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    const unsigned char second = byte(at + 1);
    const unsigned char low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
    return second >= low && second <= high && continuation(byte(at + 2)) && continuation(byte(at + 3)) ? 4 : 0;
  }
  return 0;
}

// Appends the byte at text[at] (0x80 or more) and what follows it of its
// sequence as UTF-8; the number of bytes of text it took.
size_t AppendHighByte(std::string& out, const std::string& text, size_t at) {
  const size_t length = Utf8SequenceLength(text, at);
  if (length > 0) {
    out.append(text, at, length);
    return length;
  }
  AppendUtf8(out, kCp1251High[static_cast<unsigned char>(text[at]) - 0x80]);
  return 1;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  const size_t size = text.size();
  for (size_t i = 0; i < size;) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      if (byte == '"' || byte == '\\') {
        out += '\\';
        out += static_cast<char>(byte);
      } else if (byte < 0x20 || byte == 0x7F) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
        out += escaped;
      } else {
        out += static_cast<char>(byte);
      }
      ++i;
      continue;
    }
    i += AppendHighByte(out, text, i);
  }
  return out + "\"";
}

std::string Utf8Text(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      out += text[i++];
    } else {
      i += AppendHighByte(out, text, i);
    }
  }
  return out;
}
