// The JSON writer: whatever bytes a player's name or a log line holds,
// JsonString must give one valid JSON string in valid UTF-8, and write valid
// UTF-8 text (but quotes, backslashes and control characters) as it is.
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "base/json_text.h"

namespace {

// The length of the well-formed UTF-8 sequence at text[at], 0 for none
// (written apart from the writer's own check, so that one cannot excuse the other).
size_t SequenceAt(const std::string& text, size_t at) {
  const auto b = [&text](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
  const unsigned lead = b(at);
  unsigned length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                                    : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
  if (length == 0) return 0;
  uint32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
  for (unsigned k = 1; k < length; ++k) {
    if ((b(at + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (b(at + k) & 0x3F);
  }
  const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

bool ValidJsonString(const std::string& json) {
  if (json.size() < 2 || json.front() != '"' || json.back() != '"') return false;
  for (size_t i = 1; i + 1 < json.size();) {
    const auto c = static_cast<unsigned char>(json[i]);
    if (c == '"' || c < 0x20) return false;
    if (c == '\\') {
      if (i + 2 >= json.size()) return false;
      const char next = json[i + 1];
      if (next == 'u') {
        if (i + 6 >= json.size()) return false;
        for (size_t k = i + 2; k < i + 6; ++k) {
          if (!std::isxdigit(static_cast<unsigned char>(json[k]))) return false;
        }
        i += 6;
      } else if (std::string("\"\\/bfnrt").find(next) != std::string::npos) {
        i += 2;
      } else {
        return false;
      }
      continue;
    }
    const size_t length = SequenceAt(json, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = fuzz::Text(data, size);
  const std::string json = JsonString(text);
  if (!ValidJsonString(json)) std::abort();
  bool plain = true;  // valid UTF-8 with nothing to escape
  for (size_t i = 0; i < text.size() && plain;) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t length = SequenceAt(text, i);
    plain = length > 0 && c >= 0x20 && c != 0x7F && c != '"' && c != '\\';
    i += length;
  }
  if (plain && json != "\"" + text + "\"") std::abort();
  return 0;
}
