#include "app/ban_import.h"

#include <cmath>
#include <utility>

#include "base/limits.h"
#include "base/numbers.h"
#include "bans/ban_base.h"
#include "platform/files.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The text cut to at most bytes, never inside a UTF-8 sequence.
std::string Cut(const std::string& text, size_t bytes) {
  if (text.size() <= bytes) return text;
  size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

// The words of an engine line, split at blanks.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t at = 0;
  while ((at = line.find_first_not_of(" \t", at)) != std::string::npos) {
    const size_t end = line.find_first_of(" \t", at);
    words.push_back(line.substr(at, end - at));
    at = end == std::string::npos ? line.size() : end;
  }
  return words;
}

// Minutes as the engine writes them: "30", "0.0", "1.5" (rounded up).
std::optional<int64_t> EngineMinutes(const std::string& text) {
  const size_t dot = text.find('.');
  const std::string whole = text.substr(0, dot);
  const std::string part = dot == std::string::npos ? "" : text.substr(dot + 1);
  if (whole.empty() || whole.size() > 9 || whole.find_first_not_of("0123456789") != std::string::npos ||
      part.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  const int64_t minutes = std::stoll(whole);
  return minutes + (part.find_first_not_of('0') != std::string::npos ? 1 : 0);
}

// The fields of a CSV line; nullopt when a quoted field is not closed.
std::optional<std::vector<std::string>> CsvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c != '"') {
        fields.back() += c;
      } else if (i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  if (quoted) return std::nullopt;
  return fields;
}

// Days from 1970-01-01 to the date (the proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// Unix seconds of a made field: digits, or "YYYY-MM-DD HH:MM[:SS]" (UTC).
std::optional<int64_t> MadeTime(const std::string& text) {
  if (text.find_first_not_of("0123456789") == std::string::npos) return ParseInteger64(text);
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char sep = 0;
  int consumed = 0;
  std::string rest = text;
  if (!rest.empty() && rest.back() == 'Z') rest.pop_back();
  const int got = std::sscanf(rest.c_str(), "%4d-%2d-%2d%c%2d:%2d%n:%2d%n", &y, &mo, &d, &sep, &h, &mi, &consumed, &s,
                              &consumed);
  if (got < 6 || (sep != ' ' && sep != 'T') || static_cast<size_t>(consumed) != rest.size() || mo < 1 || mo > 12 ||
      d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) {
    return std::nullopt;
  }
  return DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
}

}  // namespace

BanListKind BanListKindOf(const std::string& path) {
  return Lower(path).ends_with(".cfg") ? BanListKind::EngineConfig : BanListKind::Csv;
}

TBanImport ReadBanList(const std::string& text, BanListKind kind, const std::set<std::string>& banned,
                       const TBanRecord& like, int64_t now) {
  TBanImport result;
  std::set<std::string> seen;
  const std::vector<std::string> lines = platform::SplitTextLines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string at = "line " + std::to_string(i + 1) + ": ";
    const std::string line = Trimmed(lines[i]);
    const auto bad = [&](const std::string& what) { result.Bad.push_back(at + what); };
    if (line.empty()) continue;
    TBanRecord ban = like;
    ban.Origin = BanOrigin::Imported;
    int64_t minutes = 0;
    if (kind == BanListKind::EngineConfig) {
      if (line.starts_with("//")) continue;
      const std::vector<std::string> words = Words(line);
      const std::string command = words.empty() ? "" : Lower(words[0]);
      const std::optional<int64_t> length = words.size() >= 3 ? EngineMinutes(words[1]) : std::nullopt;
      // The engine's banid takes a "kick" after the identifier; a list may hold it.
      const bool kick = words.size() == 4 && Lower(words[3]) == "kick";
      if ((command != "banid" && command != "addip") || (words.size() != 3 && !kick) || !length) {
        bad("not \"banid <minutes> <identifier>\" nor \"addip <minutes> <address>\"");
        continue;
      }
      minutes = *length;
      ban.Identifier = words[2];
      if (command == "addip") ban.Address = words[2];
      ban.MadeAt = now;
    } else {
      const std::optional<std::vector<std::string>> fields = CsvFields(lines[i]);
      if (fields && i == 0 && Lower(Trimmed((*fields)[0])) == "identifier") continue;
      if (!fields || fields->size() != 5) {
        bad("not 5 fields (identifier, name, reason, made, minutes)");
        continue;
      }
      const std::vector<std::string>& f = *fields;
      ban.Identifier = Trimmed(f[0]);
      ban.Name = f[1];
      if (!f[2].empty()) ban.Reason = f[2];
      const std::string made = Trimmed(f[3]);
      const std::string length = Trimmed(f[4]);
      const std::optional<int64_t> madeAt = made.empty() ? std::optional<int64_t>(0) : MadeTime(made);
      const std::optional<int64_t> count =
          length.empty() ? std::optional<int64_t>(0) : ParseInteger64(length);
      if (!madeAt) {
        bad("made is neither Unix seconds nor YYYY-MM-DD HH:MM:SS: " + made);
        continue;
      }
      if (!count || *count < 0 || *count > 525600000) {
        bad("minutes is not a whole number from 0 (for ever): " + length);
        continue;
      }
      minutes = *count;
      ban.MadeAt = *madeAt;
    }
    if (const std::string problem = BanIdentifierProblem(ban.Identifier); !problem.empty()) {
      bad("the identifier " + problem);
      continue;
    }
    ban.EndsAt = minutes == 0 ? 0 : (ban.MadeAt == 0 ? now : ban.MadeAt) + minutes * 60;
    if (ban.EndsAt != 0 && ban.EndsAt <= now) {
      bad("the ban of \"" + ban.Identifier + "\" is over already");
      continue;
    }
    if (banned.contains(ban.Identifier) || !seen.insert(ban.Identifier).second) {
      result.Duplicates.push_back(at + "\"" + ban.Identifier + "\" is banned already, not added again");
      continue;
    }
    if (ban.Reason.size() > kLogFieldChars) {
      ban.Reason = Cut(ban.Reason, kLogFieldChars);
      result.Notes.push_back(at + "the reason is cut to " + std::to_string(kLogFieldChars) + " bytes");
    }
    if (ban.Name.size() > kNameChars) {
      ban.Name = Cut(ban.Name, kNameChars);
      result.Notes.push_back(at + "the name is cut to " + std::to_string(kNameChars) + " bytes");
    }
    result.FileMinutes.push_back(
        ban.EndsAt == 0 ? 0 : static_cast<int32_t>(std::min<int64_t>((ban.EndsAt - now + 59) / 60, INT32_MAX)));
    result.Bans.push_back(std::move(ban));
  }
  return result;
}

bool StoreImportedBans(records::TRecordBase& base, TBanImport& import, std::string* error) {
  std::vector<std::pair<int32_t, std::string>> lines;
  lines.reserve(import.Bans.size());
  for (size_t i = 0; i < import.Bans.size(); ++i) lines.emplace_back(import.FileMinutes[i], import.Bans[i].Identifier);
  return base.AddAllThen(import.Bans, [&](std::string* failure) { return AppendBanRecords(lines, failure); }, error);
}
