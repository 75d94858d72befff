// Reading zelk_config.txt into the settings record.
#include "app/config_file.h"

#include <cmath>
#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>

#include "base/limits.h"
#include "base/numbers.h"
#include "base/settings.h"
#include "game/text_fields.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/program_dir.h"

namespace {

// Says what is wrong with one line of the file.
using TProblem = std::function<void(const std::string&)>;

// Applies "registry_host": an address or host name, optionally ":port".
void ApplyRegistryHost(const std::string& value, const TProblem& problem) {
  size_t colon = value.rfind(':');
  if (colon == std::string::npos) {
    Settings.RegistryHost = value;
    return;
  }
  std::optional<int32_t> port = ParseInteger(value.substr(colon + 1), NumberForm::DecimalOrHex);
  if (colon == 0 || !port || *port < 1 || *port > 65535) {
    problem("\"registry_host\" \"" + value +
            "\" must be a host with an optional :port from 1 to 65535; the line is ignored");
    return;
  }
  Settings.RegistryHost = value.substr(0, colon);
  Settings.RegistryPort = *port;
}

// Applies a key whose value is one of a few words; any other value is reported
// and the default, the first word, is used.
template <typename T>
void ApplyChoice(const std::string& key, const std::string& value,
                 std::initializer_list<std::pair<const char*, T>> choices, T& setting, const TProblem& problem) {
  std::string words;
  for (const auto& [word, choice] : choices) {
    if (value == word) {
      setting = choice;
      return;
    }
    words += words.empty() ? std::string("\"") + word + "\"" : std::string(", \"") + word + "\"";
  }
  problem("\"" + key + "\" \"" + value + "\" must be one of " + words + "; \"" + choices.begin()->first +
          "\" is used");
  setting = choices.begin()->second;
}

}  // namespace

std::string NormaliseScreenDir(const std::string& dir) {
  if (dir.empty()) return dir;
  std::string out = dir;
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  if (out.back() != '/') out += '/';
  return out;
}

bool ApplyConfigLine(const std::string& line, int lineNumber) {
  const std::string key = ExtractQuoted(line, 1);
  const std::string value = ExtractQuoted(line, 2);
  // Says what is wrong with this line, naming the key, the line and the value.
  const TProblem problem = [&](const std::string& what) {
    platform::ConsoleLine("zelk_config.txt line " + std::to_string(lineNumber) + ": " + what);
  };
  // A key whose default would punish players or split a community's bans:
  // a value that cannot be read stops the start rather than fall back.
  const bool strict = key == "ban_time" || key == "rconport" || key == "ban_base";
  auto stop = [&](const std::string& why) {
    // A database URI may carry a password before its "@": never shown.
    const size_t at = key == "ban_base" ? value.rfind('@') : std::string::npos;
    const std::string shown = at == std::string::npos ? value : "..." + value.substr(at);
    problem("\"" + key + "\" \"" + shown + "\" " + why + "; the server stops");
    return false;
  };
  static const char* const kKeys[] = {"ban_time", "ftp_username", "ftp_pass", "ftp_host", "remote_pass",
                                      "procs_dir", "procs", "cl_id", "scr_quality", "scr_dir",
                                      "allow_screens", "rconpass", "rconhost", "rconport", "comment",
                                      "client_version", "client_screen_speed", "registry_host",
                                      "status_query", "chat_command", "web_listen", "web_password", "web_hosts", "web_trusted_proxies",
                                      "ban_base", "max_connections_per_address"};
  bool known = false;
  for (const char* k : kKeys) known = known || key == k;
  if (!known) {
    if (!key.empty()) {
      problem("unknown key \"" + key + "\"; the line is ignored");
    } else if (line.find_first_not_of(" \t") != std::string::npos) {
      problem("not a \"key\" \"value\" line; it is ignored");
    }
    return true;
  }
  if (value.empty()) {
    if (strict) return stop("has no value");
    platform::ConsoleLine("parametr was not found");
    problem("\"" + key + "\" has no value; the line is ignored");
    return true;
  }
  // A numeric key's value; nullopt (after saying so) when it is no number.
  auto number = [&]() -> std::optional<int32_t> {
    std::optional<int32_t> parsed = ParseInteger(value, NumberForm::DecimalOrHex);
    if (parsed) return parsed;
    problem("\"" + key + "\" \"" + value + "\" is not a whole number; the line is ignored");
    return std::nullopt;
  };
  if (key == "ban_time") {
    const std::optional<int32_t> minutes = ParseInteger(value, NumberForm::DecimalOrHex);
    if (!minutes) return stop("is not a whole number of minutes (Ban time must be number!)");
    if (*minutes < 0) return stop("is negative: write 0 to ban for ever, or the minutes");
    Settings.BanTime = *minutes;
  } else if (key == "ftp_username") {
    Settings.FtpUserName = value.substr(0, kFtpFieldChars);
    Settings.FtpConfigured = true;
  } else if (key == "ftp_pass") {
    Settings.FtpPass = value.substr(0, kFtpFieldChars);
    Settings.FtpConfigured = true;
  } else if (key == "ftp_host") {
    Settings.FtpHost = value.substr(0, kFtpFieldChars);
    Settings.FtpConfigured = true;
  } else if (key == "remote_pass") {
    Settings.RemotePass = value.substr(0, kRemotePassChars);
  } else if (key == "procs_dir") {
    Settings.ProcsDir = value;
  } else if (key == "procs") {
    if (value == "1") Settings.ProcsEnabled = true;
  } else if (key == "cl_id") {
    Settings.ClientId = value.substr(0, kClientIdChars);
  } else if (key == "scr_quality") {
    if (auto q = number()) {
      auto scaled = static_cast<uint8_t>(std::lround(*q * 0.4) & 0xFF);
      Settings.ScreenQuality = scaled < 10 ? 10 : scaled;
    }
  } else if (key == "scr_dir") {
    Settings.ScreenDir = value;
  } else if (key == "allow_screens") {
    if (value == "1") Settings.AllowScreens = true;
  } else if (key == "rconpass") {
    Settings.RconPass = value;
  } else if (key == "rconhost") {
    Settings.RconHost = value;
  } else if (key == "rconport") {
    const std::optional<int32_t> port = ParseInteger(value, NumberForm::DecimalOrHex);
    if (!port) return stop("is not a whole number (RCON port must have integer value!)");
    Settings.RconPort = *port;
  } else if (key == "comment") {
    Settings.Comment = value;
  } else if (key == "client_version") {
    Settings.ClientVersion = value;
  } else if (key == "client_screen_speed") {
    if (auto s = number()) {
      if (*s >= 6 && *s <= 50) {
        Settings.ScreenInterval = static_cast<uint8_t>(*s);
      } else {
        problem("\"" + key + "\" \"" + value + "\" is outside 6 to 50; the line is ignored");
      }
    }
  } else if (key == "registry_host") {
    ApplyRegistryHost(value, problem);
  } else if (key == "ban_base") {
    if (!IsKnownBanBase(value)) return stop("must be \"file\" or a postgresql:// URI");
    Settings.BanBase = value;
  } else if (key == "web_listen") {
    Settings.WebListen = value;
  } else if (key == "web_password") {
    Settings.WebPassword = value;
  } else if (key == "web_hosts") {
    Settings.WebHosts = value;
  } else if (key == "web_trusted_proxies") {
    Settings.WebTrustedProxies = value;
  } else if (key == "status_query") {
    ApplyChoice(key, value,
                {{"auto", StatusQuery::Auto}, {"addon", StatusQuery::Addon}, {"status", StatusQuery::Status}},
                Settings.StatusQueryMode, problem);
  } else if (key == "chat_command") {
    ApplyChoice(key, value,
                {{"auto", ChatCommand::Auto}, {"amx_tsay", ChatCommand::AmxTsay}, {"say", ChatCommand::Say}},
                Settings.ChatCommandMode, problem);
  } else if (key == "max_connections_per_address") {
    if (auto n = number()) {
      if (*n >= 0 && *n <= kMaxConnections) {
        Settings.MaxConnectionsPerAddress = *n;
      } else {
        problem("\"" + key + "\" \"" + value + "\" is outside 0 to " + std::to_string(kMaxConnections) +
                "; the line is ignored");
      }
    }
  }
  return true;
}

bool LoadConfig() {
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
    usable = ApplyConfigLine(lines[i], static_cast<int>(i + 1)) && usable;
  }
  return usable;
}

bool CheckRconPort() {
  if (Settings.RconPort >= 1 && Settings.RconPort <= kMaxRconPort) return true;
  platform::ConsoleLine("\"rconport\" is " + std::to_string(Settings.RconPort) +
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
