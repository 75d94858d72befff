#include "registry/listed_name.h"

#include <array>
#include <cctype>
#include <string_view>

namespace {

// The engine keeps 31 bytes of a name (a 32-byte field with its NUL), and 28
// of the name behind a duplicate's "(N)".
constexpr size_t kListedNameBytes = 31;
constexpr size_t kDuplicateNameBytes = 28;
// A listed name this long may have been cut by the engine.
constexpr size_t kMayBeCutBytes = kListedNameBytes - 3;
// The bytes of a name that ListedNameKey reads.
constexpr size_t kKeyBytes = 8;

// What an engine does to one character of the name the player's game sent.
enum class Rewrite { Keep, FullWidth, Blank };

// The one table of character rules: which characters each engine rewrites.
// ReHLDS writes them as their full-width forms (U+FF01..U+FF5E, 3 bytes in
// UTF-8) so that a name cannot look like a userid or a format; stock HLDS
// blanks a few instead.
struct TCharRule {
  char Character;
  Rewrite ReHlds;
  Rewrite Stock;
};
constexpr std::array<TCharRule, 3> kCharRules{{
    {'#', Rewrite::FullWidth, Rewrite::Keep},  // stock blanks only a leading run (below)
    {'%', Rewrite::FullWidth, Rewrite::Blank},
    {'&', Rewrite::FullWidth, Rewrite::Blank},
}};
// ReHLDS also writes a letter or digit that follows a '+' in full width.

Rewrite RuleFor(char c, char before, EngineKind engine) {
  for (const TCharRule& rule : kCharRules) {
    if (rule.Character == c) return engine == EngineKind::ReHlds ? rule.ReHlds : rule.Stock;
  }
  const bool alnum = static_cast<unsigned char>(c) < 0x80 && std::isalnum(static_cast<unsigned char>(c));
  if (engine == EngineKind::ReHlds && before == '+' && alnum) return Rewrite::FullWidth;
  return Rewrite::Keep;
}

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsControl(char c) { return (static_cast<unsigned char>(c) < 0x20 && !IsBlank(c)) || c == 0x7F; }

// The full-width form of a printable ASCII character, as ReHLDS writes it.
void AppendFullWidth(std::string& out, char c) {
  const int offset = c - 0x20;
  out += static_cast<char>(0xEF);
  out += static_cast<char>(0xBC | ((offset & 0x40) >> 6));
  out += static_cast<char>(0x80 + (offset & 0x3F));
}

// The length of the valid UTF-8 character at text[at], 0 when the bytes there
// are none (the engine then drops one byte).
size_t Utf8CharAt(std::string_view text, size_t at) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return 1;
  const size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((static_cast<unsigned char>(text[at + k]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

// The text without the bytes that are no valid UTF-8 (a character broken by a
// cut among them), as the engine repairs a name.
std::string RepairUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const size_t length = Utf8CharAt(text, at);
    if (length == 0) {
      ++at;
      continue;
    }
    out.append(text.substr(at, length));
    at += length;
  }
  return out;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Inner runs of blanks as one blank: our command line rebuilds a name from its
// words with single blanks, while the engine keeps the blanks as sent.
std::string Collapsed(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (IsBlank(c) && !out.empty() && out.back() == ' ') continue;
    out += IsBlank(c) ? ' ' : c;
  }
  return out;
}

bool IsConsole(std::string_view name) {
  static constexpr std::string_view kConsole = "console";
  if (name.size() != kConsole.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(name[i])) != kConsole[i]) return false;
  }
  return true;
}

// The length of a duplicate's "(N)" prefix, 0 when the name has none.
size_t DuplicatePrefix(std::string_view name) {
  if (name.size() < 3 || name[0] != '(') return 0;
  size_t at = 1;
  while (at < name.size() && std::isdigit(static_cast<unsigned char>(name[at]))) ++at;
  return at > 1 && at < name.size() && name[at] == ')' ? at + 1 : 0;
}

}  // namespace

std::string ListedForm(const std::string& sent, EngineKind engine) {
  const std::string_view name = std::string_view(sent).substr(0, sent.find('"'));
  std::string rewritten;
  if (engine == EngineKind::ReHlds) {
    // The rewriting stops where a full-width form would no longer fit.
    for (char c : name) {
      if (rewritten.size() >= kListedNameBytes) break;
      const char before = rewritten.empty() ? '\0' : rewritten.back();
      if (RuleFor(c, before, engine) != Rewrite::FullWidth) {
        rewritten += c;
      } else if (rewritten.size() + 3 <= kListedNameBytes) {
        AppendFullWidth(rewritten, c);
      } else {
        break;
      }
    }
  } else {
    bool leading = true;
    for (char c : name.substr(0, kListedNameBytes)) {
      leading = leading && c == '#';
      rewritten += leading || RuleFor(c, '\0', engine) == Rewrite::Blank ? ' ' : c;
    }
  }
  std::string printable;
  for (char c : rewritten) {
    if (!IsControl(c)) printable += c;
  }
  std::string listed = RepairUtf8(Trimmed(printable));
  if (listed.empty() || IsConsole(listed) || listed.find("..") != std::string::npos) return "unnamed";
  return listed;
}

bool ListedAs(const std::string& listed, const std::string& announced) {
  if (listed == announced) return true;
  const std::string shown = Collapsed(listed);
  const size_t prefix = DuplicatePrefix(listed);
  const std::string behindPrefix = prefix == 0 ? std::string() : Collapsed(RepairUtf8(listed.substr(prefix)));
  for (EngineKind engine : {EngineKind::ReHlds, EngineKind::StockHlds}) {
    const std::string form = ListedForm(announced, engine);
    const std::string expected = Collapsed(form);
    if (shown == expected) return true;
    if (prefix != 0 && behindPrefix == Collapsed(RepairUtf8(form.substr(0, kDuplicateNameBytes)))) return true;
    // Cut by the engine where the name still had the blanks that our command
    // line collapsed: the listing then ends earlier in the name.
    if (listed.size() >= kMayBeCutBytes && shown.size() < listed.size() && expected.starts_with(shown)) return true;
  }
  return false;
}

uint64_t ListedNameKey(const std::string& name) {
  std::string_view text = std::string_view(name).substr(0, name.find('"'));
  text.remove_prefix(DuplicatePrefix(text));
  const std::string repaired = RepairUtf8(text);
  std::string loose;
  for (size_t at = 0; at < repaired.size() && loose.size() < kKeyBytes;) {
    const size_t length = Utf8CharAt(repaired, at);
    char c = repaired[at];
    // A full-width form counts as the character it stands for.
    if (length == 3 && c == static_cast<char>(0xEF) && (repaired[at + 1] == static_cast<char>(0xBC) ||
                                                        repaired[at + 1] == static_cast<char>(0xBD))) {
      c = static_cast<char>(((repaired[at + 1] & 1) << 6) + (static_cast<unsigned char>(repaired[at + 2]) - 0x80) +
                            0x20);
      at += 3;
    } else {
      at += 1;
    }
    if (IsBlank(c) || IsControl(c) || c == '#' || c == '%' || c == '&') continue;
    loose += c;
  }
  const std::string_view kept = std::string_view(repaired).substr(0, kListedNameBytes);
  if (loose.empty() || IsConsole(Trimmed(Collapsed(repaired))) || kept.find("..") != std::string_view::npos) {
    loose = "unnamed";
  }
  uint64_t key = 14695981039346656037ull;  // FNV-1a, 64 bits
  for (unsigned char c : loose) key = (key ^ c) * 1099511628211ull;
  return key == 0 ? 1 : key;
}
