// Reading zelk_config.txt into the settings record.
#include "app/config_file.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "base/limits.h"
#include "base/numbers.h"
#include "base/settings.h"
#include "notify/notice_text.h"
#include "rcon/text_fields.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/program_dir.h"

namespace {

// Says what is wrong with one line of the file.
using TProblem = std::function<void(const std::string&)>;

// Applies "registry_host": an address or host name, optionally ":port".
void ApplyRegistryHost(SettingsRecord& settings, const std::string& value, const TProblem& problem) {
  size_t colon = value.rfind(':');
  if (colon == std::string::npos) {
    settings.RegistryHost = value;
    return;
  }
  std::optional<int32_t> port = ParseInteger(value.substr(colon + 1), NumberForm::DecimalOrHex);
  if (colon == 0 || !port || *port < 1 || *port > 65535) {
    problem("\"registry_host\" \"" + value +
            "\" must be a host with an optional :port from 1 to 65535; the line is ignored");
    return;
  }
  settings.RegistryHost = value.substr(0, colon);
  settings.RegistryPort = *port;
}

// Applies a key whose value is one of a few words; any other value is reported
// and the default, the first word, is used.
template <typename T, size_t N>
void ApplyChoice(const std::string& key, const std::string& value, const TWord<T> (&choices)[N], T& setting,
                 const TProblem& problem) {
  std::string words;
  for (const auto& [word, choice] : choices) {
    if (value == word) {
      setting = choice;
      return;
    }
    words += words.empty() ? std::string("\"") + word + "\"" : std::string(", \"") + word + "\"";
  }
  problem("\"" + key + "\" \"" + value + "\" must be one of " + words + "; \"" + choices[0].Word + "\" is used");
  setting = choices[0].Value;
}

// Applies "notify_url": URLs separated by blanks, each http:// or https://.
// One that is not is reported (masked: its path may hold a secret) and left
// out; the others are kept.
void ApplyNotifyUrls(SettingsRecord& settings, const std::string& value, const TProblem& problem) {
  std::vector<std::string> urls;
  size_t at = 0;
  while ((at = value.find_first_not_of(" \t", at)) != std::string::npos) {
    const size_t end = std::min(value.find_first_of(" \t", at), value.size());
    const std::string url = value.substr(at, end - at);
    at = end;
    if (IsNotifyUrl(url)) {
      urls.push_back(url);
    } else {
      problem("\"notify_url\" \"" + MaskedUrl(url) + "\" is not an http:// or https:// address; it is left out");
    }
  }
  settings.NotifyUrls = std::move(urls);
}

// Applies "appeal_url": one http:// or https:// address. It goes into the
// kick commands of bans, so a blank, a quote, a backslash or a control byte,
// which the game server would read as the end of the text or an escape, is
// refused.
void ApplyAppealUrl(SettingsRecord& settings, const std::string& value, const TProblem& problem) {
  const bool web = value.rfind("http://", 0) == 0 || value.rfind("https://", 0) == 0;
  const bool clean = std::none_of(value.begin(), value.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7F || c == '"' || c == '\\';
  });
  if (!web || !clean) {
    problem("\"appeal_url\" \"" + platform::WithoutControlBytes(value) +
            "\" must be one http:// or https:// address without blanks, quotes or backslashes; the line is ignored");
    return;
  }
  settings.AppealUrl = value;
}

// The placeholders of the example configuration: a server never runs with
// them, so that a copied example cannot leave a known password in place.
constexpr const char* kPasswordPlaceholder = "CHANGE-ME";

// The number of single-byte edits between two keys.
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// One line being applied: its key and value, the number read from the value
// (Number keys only), and how to report it.
struct TLine {
  SettingsRecord& Settings;  // where the value goes
  const std::string& Key;
  const std::string& Value;
  int32_t Number = 0;
  const TProblem& Problem;
  // Says why the value stops the start; always false.
  const std::function<bool(const std::string&)>& Stop;
};

// How a key's value is read before its rule applies it.
enum class KeyKind {
  Text,    // any non-empty text
  Number,  // a whole number (decimal or 0x hex) within the rule's bounds, else the line is ignored
  Choice,  // one of a few words (ApplyChoice)
  Strict,  // read by the rule itself: a value it cannot read stops the start
};

struct TKeyRule {
  const char* Name;
  KeyKind Kind;
  int32_t Min;  // Number: the accepted bounds, when Min <= Max
  int32_t Max;
  // Applies the value; false when the start must stop.
  bool (*Apply)(const TLine& line);
};

// Min and Max of a Number key that takes any whole number (Min > Max).
constexpr int32_t kAny = 1;
constexpr int32_t kNone = 0;

// Every key of zelk_config.txt, with how its value is read and applied.
const TKeyRule kKeyRules[] = {
    {"ban_time", KeyKind::Strict, 0, 0,
     [](const TLine& l) {
       const std::optional<int32_t> minutes = ParseInteger(l.Value, NumberForm::DecimalOrHex);
       if (!minutes) return l.Stop("is not a whole number of minutes (Ban time must be number!)");
       if (*minutes < 0) return l.Stop("is negative: write 0 to ban for ever, or the minutes");
       l.Settings.BanTime = *minutes;
       return true;
     }},
    {"ftp_username", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       l.Settings.FtpUserName = l.Value.substr(0, kFtpFieldChars);
       l.Settings.FtpConfigured = true;
       return true;
     }},
    {"ftp_pass", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       l.Settings.FtpPass = l.Value.substr(0, kFtpFieldChars);
       l.Settings.FtpConfigured = true;
       return true;
     }},
    {"ftp_host", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       l.Settings.FtpHost = l.Value.substr(0, kFtpFieldChars);
       l.Settings.FtpConfigured = true;
       return true;
     }},
    {"remote_pass", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       l.Settings.RemotePass = l.Value.substr(0, kRemotePassChars);
       return true;
     }},
    {"procs_dir", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       l.Settings.ProcsDir = l.Value;
       return true;
     }},
    {"procs", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       if (l.Value == "1") l.Settings.ProcsEnabled = true;
       return true;
     }},
    {"cl_id", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       l.Settings.ClientId = l.Value.substr(0, kClientIdChars);
       return true;
     }},
    {"scr_quality", KeyKind::Number, kAny, kNone,
     [](const TLine& l) {
       const auto scaled = static_cast<uint8_t>(std::lround(l.Number * 0.4) & 0xFF);
       l.Settings.ScreenQuality = scaled < 10 ? 10 : scaled;
       return true;
     }},
    {"scr_dir", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       l.Settings.ScreenDir = l.Value;
       return true;
     }},
    {"allow_screens", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       if (l.Value == "1") l.Settings.AllowScreens = true;
       return true;
     }},
    {"rconpass", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       if (l.Value == kPasswordPlaceholder) {
         return l.Stop("is the example's placeholder: set it to the game server's rcon_password");
       }
       l.Settings.RconPass = l.Value;
       return true;
     }},
    {"rconhost", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       l.Settings.RconHost = l.Value;
       return true;
     }},
    {"rconport", KeyKind::Strict, 0, 0,
     [](const TLine& l) {
       const std::optional<int32_t> port = ParseInteger(l.Value, NumberForm::DecimalOrHex);
       if (!port) return l.Stop("is not a whole number (RCON port must have integer value!)");
       l.Settings.RconPort = *port;
       return true;
     }},
    {"comment", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       l.Settings.Comment = l.Value;
       return true;
     }},
    {"client_version", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       l.Settings.ClientVersion = l.Value;
       return true;
     }},
    {"client_screen_speed", KeyKind::Number, 6, 50,
     [](const TLine& l) {
       l.Settings.ScreenInterval = static_cast<uint8_t>(l.Number);
       return true;
     }},
    {"screens_keep_days", KeyKind::Number, 0, 36500,
     [](const TLine& l) {
       l.Settings.ScreensKeepDays = l.Number;
       return true;
     }},
    {"screens_max_mb", KeyKind::Number, 0, 1048576,
     [](const TLine& l) {
       l.Settings.ScreensMaxMb = l.Number;
       return true;
     }},
    {"registry_host", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       ApplyRegistryHost(l.Settings, l.Value, l.Problem);
       return true;
     }},
    {"status_query", KeyKind::Choice, 0, 0,
     [](const TLine& l) {
       ApplyChoice(l.Key, l.Value, kStatusQueryWords, l.Settings.StatusQueryMode, l.Problem);
       return true;
     }},
    {"chat_command", KeyKind::Choice, 0, 0,
     [](const TLine& l) {
       ApplyChoice(l.Key, l.Value, kChatCommandWords, l.Settings.ChatCommandMode, l.Problem);
       return true;
     }},
    {"web_listen", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       l.Settings.WebListen = l.Value;
       return true;
     }},
    {"web_password", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       if (l.Value == kPasswordPlaceholder) return l.Stop("is the example's placeholder: choose a long password");
       l.Settings.WebPassword = l.Value;
       return true;
     }},
    {"web_hosts", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       l.Settings.WebHosts = l.Value;
       return true;
     }},
    {"web_trusted_proxies", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       l.Settings.WebTrustedProxies = l.Value;
       return true;
     }},
    {"web_tls_cert", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       l.Settings.WebTlsCert = l.Value;
       return true;
     }},
    {"web_tls_key", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       l.Settings.WebTlsKey = l.Value;
       return true;
     }},
    {"ban_base", KeyKind::Strict, 0, 0,
     [](const TLine& l) {
       if (!IsKnownBanBase(l.Value)) return l.Stop("must be \"file\" or a postgresql:// URI");
       l.Settings.BanBase = l.Value;
       return true;
     }},
    {"startup_grace", KeyKind::Number, 0, 3600,
     [](const TLine& l) {
       l.Settings.StartupGraceSeconds = l.Number;
       return true;
     }},
    {"notify_url", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       ApplyNotifyUrls(l.Settings, l.Value, l.Problem);
       return true;
     }},
    {"notify_format", KeyKind::Choice, 0, 0,
     [](const TLine& l) {
       ApplyChoice(l.Key, l.Value, kNotifyFormatWords, l.Settings.NotifyFormatMode, l.Problem);
       return true;
     }},
    {"web_public", KeyKind::Number, 0, 1,
     [](const TLine& l) {
       l.Settings.WebPublic = l.Number == 1;
       return true;
     }},
    {"web_public_evidence", KeyKind::Number, 0, 1,
     [](const TLine& l) {
       l.Settings.WebPublicEvidence = l.Number == 1;
       return true;
     }},
    {"appeal_url", KeyKind::Text, 0, 0,
     [](const TLine& l) {
       ApplyAppealUrl(l.Settings, l.Value, l.Problem);
       return true;
     }},
    {"max_connections_per_address", KeyKind::Number, 0, kMaxConnections,
     [](const TLine& l) {
       l.Settings.MaxConnectionsPerAddress = l.Number;
       return true;
     }},
};

const TKeyRule* FindKeyRule(const std::string& key) {
  for (const TKeyRule& rule : kKeyRules) {
    if (key == rule.Name) return &rule;
  }
  return nullptr;
}

// The known key nearest to an unknown one, when it is near enough to be a
// typo (at most a third of its letters changed); empty otherwise.
std::string NearestKey(const std::string& key) {
  std::string nearest;
  size_t best = key.size() / 3 + 1;
  for (const TKeyRule& rule : kKeyRules) {
    const size_t distance = EditDistance(key, rule.Name);
    if (distance < best) {
      best = distance;
      nearest = rule.Name;
    }
  }
  return nearest;
}

}  // namespace

std::vector<std::string> ConfigKeyNames() {
  std::vector<std::string> names;
  for (const TKeyRule& rule : kKeyRules) names.emplace_back(rule.Name);
  return names;
}

std::string NormaliseScreenDir(const std::string& dir) {
  if (dir.empty()) return dir;
  std::string out = dir;
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  if (out.back() != '/') out += '/';
  return out;
}

bool ApplyConfigLine(SettingsRecord& settings, const std::string& line, int lineNumber) {
  const std::string key = ExtractQuoted(line, 1);
  const std::string value = ExtractQuoted(line, 2);
  // Says what is wrong with this line, naming the key, the line and the value.
  const TProblem problem = [&](const std::string& what) {
    platform::ConsoleLine("zelk_config.txt line " + std::to_string(lineNumber) + ": " + what);
  };
  const TKeyRule* rule = FindKeyRule(key);
  if (rule == nullptr) {
    if (!key.empty()) {
      const std::string nearest = NearestKey(key);
      problem("unknown key \"" + key + "\"" + (nearest.empty() ? "" : " (did you mean \"" + nearest + "\"?)") +
              "; the line is ignored");
    } else if (line.find_first_not_of(" \t") != std::string::npos) {
      problem("not a \"key\" \"value\" line; it is ignored");
    }
    return true;
  }
  // A key whose default would punish players or split a community's bans:
  // a value that cannot be read stops the start rather than fall back.
  const std::function<bool(const std::string&)> stop = [&](const std::string& why) {
    // A database URI may carry a password before its "@": never shown.
    const size_t at = key == "ban_base" ? value.rfind('@') : std::string::npos;
    const std::string shown = at == std::string::npos ? value : "..." + value.substr(at);
    problem("\"" + key + "\" \"" + shown + "\" " + why + "; the server stops");
    return false;
  };
  if (value.empty()) {
    if (rule->Kind == KeyKind::Strict) return stop("has no value");
    platform::ConsoleLine("parametr was not found");
    problem("\"" + key + "\" has no value; the line is ignored");
    return true;
  }
  TLine applied{settings, key, value, 0, problem, stop};
  if (rule->Kind == KeyKind::Number) {
    const std::optional<int32_t> parsed = ParseInteger(value, NumberForm::DecimalOrHex);
    if (!parsed) {
      problem("\"" + key + "\" \"" + value + "\" is not a whole number; the line is ignored");
      return true;
    }
    if (rule->Min <= rule->Max && (*parsed < rule->Min || *parsed > rule->Max)) {
      problem("\"" + key + "\" \"" + value + "\" is outside " + std::to_string(rule->Min) + " to " +
              std::to_string(rule->Max) + "; the line is ignored");
      return true;
    }
    applied.Number = *parsed;
  }
  return rule->Apply(applied);
}

bool LoadConfig(SettingsRecord& settings) {
  const std::string path = platform::DataDirectory() + "zelk_config.txt";
  if (!platform::FileExists(path)) {
    platform::ConsoleLine("ATTENTION!!! : Config file \"zelk_config.txt\" was not found :(");
    platform::ConsoleLine("Looked for it in " + platform::DataDirectory() +
                          " (the program's directory, or ACSERVER_HOME when set)");
    return false;
  }
  std::vector<std::string> lines;
  std::string error;
  if (!platform::ReadTextLines(path, lines, &error)) {
    platform::ConsoleLine("ATTENTION!!! : Config file \"zelk_config.txt\" could not be read: " + error);
    return false;
  }
  // Every line is read, so that one start names every line that stops it.
  bool usable = true;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].empty() || lines[i][0] == ';') continue;
    usable = ApplyConfigLine(settings, lines[i], static_cast<int>(i + 1)) && usable;
  }
  return usable;
}

bool CheckRconPort(const SettingsRecord& settings) {
  if (settings.RconPort >= 1 && settings.RconPort <= kMaxRconPort) return true;
  if (settings.RconPort == 0 && QuietConfigValue("rconport").empty()) {
    platform::ConsoleLine("\"rconport\" is missing: set it to the game server's port, 1 to " +
                          std::to_string(kMaxRconPort) + " (27015 for most); the server stops");
    return false;
  }
  platform::ConsoleLine("\"rconport\" is " + std::to_string(settings.RconPort) +
                        ": it must be the game server's port, 1 to " + std::to_string(kMaxRconPort) +
                        " (the command port is rconport + 1000); the server stops");
  return false;
}

std::string QuietConfigValue(const std::string& key) {
  std::vector<std::string> lines;
  if (!platform::ReadTextLines(platform::DataDirectory() + "zelk_config.txt", lines)) return std::string();
  std::string value;
  for (const std::string& line : lines) {
    if (!line.empty() && line[0] != ';' && ExtractQuoted(line, 1) == key) value = ExtractQuoted(line, 2);
  }
  return value;
}
