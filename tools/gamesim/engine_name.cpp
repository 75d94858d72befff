#include "gamesim/engine_name.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <iterator>

namespace gamesim {
namespace {

constexpr size_t kMaxNameBytes = 31;    // MAX_NAME less its NUL
constexpr size_t kMaxDuplicateBase = 28;  // "(N)" and the NUL take the rest

// One character as the engine's UTF-8 decoder reads it: a broken sequence is
// an error that consumes the bytes read so far.
struct TChar {
  uint32_t Code = 0;
  bool Broken = false;
  size_t Start = 0;
  size_t Size = 1;
};

bool ValidCode(uint32_t code) {
  return code < 0x110000 && (code < 0xD800 || code > 0xDFFF) && (code & 0xFFFF) < 0xFFFE &&
         (code < 0xFDD0 || code > 0xFDEF);
}

TChar Decode(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) -> uint32_t {
    return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0;
  };
  TChar c{byte(0), false, at, 1};
  if (c.Code < 0x80) return c;
  const auto broken = [&](size_t size) { return TChar{'?', true, at, size}; };
  if (c.Code < 0xC0 || c.Code > 0xF7 || (byte(1) & 0xC0) != 0x80) return broken(1);
  uint32_t code = ((c.Code & 0x1F) << 6) | (byte(1) & 0x3F);
  size_t size = 2;
  uint32_t least = 0x80;
  if (c.Code >= 0xE0) {
    if ((byte(2) & 0xC0) != 0x80) return broken(2);
    code = ((c.Code & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
    size = 3;
    least = 0x800;
    if (c.Code >= 0xF0) {
      if ((byte(3) & 0xC0) != 0x80) return broken(3);
      code = ((c.Code & 0x07) << 18) | ((byte(1) & 0x3F) << 12) | ((byte(2) & 0x3F) << 6) | (byte(3) & 0x3F);
      size = 4;
      least = 0x10000;
    }
  }
  if (code < least || !ValidCode(code)) return broken(size);
  return {code, false, at, size};
}

std::vector<TChar> DecodeAll(const std::string& text) {
  std::vector<TChar> chars;
  for (size_t at = 0; at < text.size(); at += chars.back().Size) chars.push_back(Decode(text, at));
  return chars;
}

// The engine keeps a table of printable UTF-16 units. Letters of every script
// a name is written in are printable; these are the exceptions names meet:
// controls, combining marks, format characters and invisible spaces, currency
// signs, surrogates (so every character beyond U+FFFF goes) and private use,
// and a few full-width forms ($ + < = > ^ ` | ~).
bool Unprintable(uint32_t code) {
  static constexpr std::pair<uint32_t, uint32_t> kRanges[] = {
      {0x0000, 0x001F}, {0x007F, 0x009F}, {0x0300, 0x036F}, {0x1FFD, 0x200F}, {0x2026, 0x2026},
      {0x2028, 0x202F}, {0x205F, 0x2070}, {0x2095, 0x2101}, {0xD7A4, 0xF8FF}, {0xFEFD, 0xFEFE},
      {0xFF00, 0xFF00}, {0xFF04, 0xFF04}, {0xFF0B, 0xFF0B}, {0xFF1C, 0xFF1E}, {0xFF3E, 0xFF3E},
      {0xFF40, 0xFF40}, {0xFF5C, 0xFF5C}, {0xFF5E, 0xFF5E}, {0x10000, 0x10FFFF},
  };
  return std::any_of(std::begin(kRanges), std::end(kRanges),
                     [code](const auto& range) { return code >= range.first && code <= range.second; });
}

// Blanks trimmed at both ends: the space and the "mean" spaces of the engine.
bool Blank(uint32_t code) {
  static constexpr uint32_t kBlanks[] = {0x20,   0xA0,   0x34F,  0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                         0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x200B, 0x200C,
                                         0x200D, 0x2028, 0x2029, 0x202F, 0x2060, 0x3000, 0xFEFF, 0xFFFC};
  return std::find(std::begin(kBlanks), std::end(kBlanks), code) != std::end(kBlanks);
}

std::string Encode(uint32_t code) {
  std::string out;
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
  return out;
}

// `#`, `%`, `&` and an alphanumeric after `+` in full width, within 31 bytes.
std::string ReplaceSpecialCharacters(const std::string& name) {
  std::string out;
  for (const char c : name) {
    if (out.size() >= kMaxNameBytes) break;
    const bool afterPlus = !out.empty() && out.back() == '+' && static_cast<signed char>(c) > 0 &&
                           std::isalnum(static_cast<unsigned char>(c));
    if (c == '#' || c == '%' || c == '&' || afterPlus) {
      if (kMaxNameBytes - out.size() < 3) break;
      const int shifted = c - 0x20;
      out += '\xEF';
      out += static_cast<char>(0xBC | ((shifted & 0x40) >> 6));
      out += static_cast<char>(0x80 + (shifted & 0x3F));
    } else {
      out += c;
    }
  }
  return out;
}

// Unprintable characters removed, blanks trimmed at both ends. The text is
// rewritten only when that changed something, a broken sequence then as `?`.
std::string StripUnprintableAndBlanks(const std::string& text) {
  const std::vector<TChar> chars = DecodeAll(text);
  std::vector<TChar> kept;
  std::copy_if(chars.begin(), chars.end(), std::back_inserter(kept),
               [](const TChar& c) { return c.Broken || !Unprintable(c.Code); });
  auto first = std::find_if(kept.begin(), kept.end(), [](const TChar& c) { return !Blank(c.Code); });
  auto last = std::find_if(kept.rbegin(), kept.rend(), [](const TChar& c) { return !Blank(c.Code); }).base();
  if (first >= last) return std::string();
  if (kept.size() == chars.size() && first == kept.begin() && last == kept.end()) return text;
  std::string out;
  for (auto it = first; it != last; ++it) out += it->Broken ? std::string("?") : Encode(it->Code);
  return out;
}

// Broken UTF-8 sequences dropped.
std::string Repaired(const std::string& text) {
  std::string out;
  for (const TChar& c : DecodeAll(text)) {
    if (!c.Broken) out += text.substr(c.Start, c.Size);
  }
  return out;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::string EngineName(const std::string& sent) {
  std::string name = sent.substr(0, sent.find('"'));
  name.erase(std::remove(name.begin(), name.end(), '\\'), name.end());
  name = Repaired(StripUnprintableAndBlanks(ReplaceSpecialCharacters(name)));
  if (name.empty() || Lower(name) == "console" || name.find("..") != std::string::npos) return "unnamed";
  return name;
}

std::string UniqueListedName(const std::string& name, const std::vector<std::string>& listed) {
  const auto taken = [&](const std::string& candidate) {
    return std::any_of(listed.begin(), listed.end(),
                       [&](const std::string& other) { return Lower(other) == Lower(candidate); });
  };
  std::string candidate = name;
  for (int count = 1; taken(candidate); ++count) {
    candidate = Repaired("(" + std::to_string(count) + ")" + name.substr(0, kMaxDuplicateBase));
    if (candidate.size() > kMaxNameBytes) candidate = Repaired(candidate.substr(0, kMaxNameBytes));
  }
  return candidate;
}

}  // namespace gamesim
