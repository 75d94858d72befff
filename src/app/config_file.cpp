// Reading zelk_config.txt into the settings record.
#include "app/config_file.h"

#include <cmath>
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

// Applies "registry_host": an address or host name, optionally ":port".
void ApplyRegistryHost(const std::string& value) {
  size_t colon = value.rfind(':');
  if (colon == std::string::npos) {
    Settings.RegistryHost = value;
    return;
  }
  std::optional<int32_t> port = ParseInteger(value.substr(colon + 1), NumberForm::DecimalOrHex);
  if (colon == 0 || !port || *port < 1 || *port > 65535) {
    platform::ConsoleLine("registry_host must be a host with an optional :port from 1 to 65535!");
    return;
  }
  Settings.RegistryHost = value.substr(0, colon);
  Settings.RegistryPort = *port;
}

// Applies a key whose value is one of a few words; any other value is reported
// and the default, the first word, is used.
template <typename T>
void ApplyChoice(const std::string& key, const std::string& value,
                 std::initializer_list<std::pair<const char*, T>> choices, T& setting) {
  std::string words;
  for (const auto& [word, choice] : choices) {
    if (value == word) {
      setting = choice;
      return;
    }
    words += words.empty() ? std::string("\"") + word + "\"" : std::string(", \"") + word + "\"";
  }
  platform::ConsoleLine(key + " must be one of " + words + "; \"" + choices.begin()->first + "\" is used");
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

void ApplyConfigLine(const std::string& line, int lineNumber) {
  const std::string key = ExtractQuoted(line, 1);
  const std::string value = ExtractQuoted(line, 2);
  // Says what is wrong with this line, naming the key, the line and the value.
  auto problem = [&](const std::string& what) {
    platform::ConsoleLine("zelk_config.txt line " + std::to_string(lineNumber) + ": " + what);
  };
  static const char* const kKeys[] = {"ban_time", "ftp_username", "ftp_pass", "ftp_host", "remote_pass",
                                      "procs_dir", "procs", "cl_id", "scr_quality", "scr_dir",
                                      "allow_screens", "rconpass", "rconhost", "rconport", "comment",
                                      "client_version", "client_screen_speed", "registry_host",
                                      "status_query", "chat_command", "web_listen", "web_password",
                                      "ban_base", "max_connections_per_address"};
  bool known = false;
  for (const char* k : kKeys) known = known || key == k;
  if (!known) {
    if (!key.empty()) {
      problem("unknown key \"" + key + "\"; the line is ignored");
    } else if (line.find_first_not_of(" \t") != std::string::npos) {
      problem("not a \"key\" \"value\" line; it is ignored");
    }
    return;
  }
  if (value.empty()) {
    platform::ConsoleLine("parametr was not found");
    problem("\"" + key + "\" has no value; the line is ignored");
    return;
  }
  // A numeric key's value; nullopt (after saying so) when it is no number.
  auto number = [&](const char* ownLine) -> std::optional<int32_t> {
    std::optional<int32_t> parsed = ParseInteger(value, NumberForm::DecimalOrHex);
    if (parsed) return parsed;
    if (ownLine) platform::ConsoleLine(ownLine);
    problem("\"" + key + "\" \"" + value + "\" is not a whole number; the line is ignored");
    return std::nullopt;
  };
  if (key == "ban_time") {
    if (auto v = number("Ban time must be number!")) Settings.BanTime = *v;
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
    if (auto q = number(nullptr)) {
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
    if (auto v = number("RCON port must have integer value!")) Settings.RconPort = *v;
  } else if (key == "comment") {
    Settings.Comment = value;
  } else if (key == "client_version") {
    Settings.ClientVersion = value;
  } else if (key == "client_screen_speed") {
    if (auto s = number(nullptr)) {
      if (*s >= 6 && *s <= 50) {
        Settings.ScreenInterval = static_cast<uint8_t>(*s);
      } else {
        problem("\"" + key + "\" \"" + value + "\" is outside 6 to 50; the line is ignored");
      }
    }
  } else if (key == "registry_host") {
    ApplyRegistryHost(value);
  } else if (key == "ban_base") {
    Settings.BanBase = value;
  } else if (key == "web_listen") {
    Settings.WebListen = value;
  } else if (key == "web_password") {
    Settings.WebPassword = value;
  } else if (key == "status_query") {
    ApplyChoice(key, value,
                {{"auto", StatusQuery::Auto}, {"addon", StatusQuery::Addon}, {"status", StatusQuery::Status}},
                Settings.StatusQueryMode);
  } else if (key == "chat_command") {
    ApplyChoice(key, value,
                {{"auto", ChatCommand::Auto}, {"amx_tsay", ChatCommand::AmxTsay}, {"say", ChatCommand::Say}},
                Settings.ChatCommandMode);
  } else if (key == "max_connections_per_address") {
    if (auto n = number(nullptr)) {
      if (*n >= 0 && *n <= kMaxConnections) {
        Settings.MaxConnectionsPerAddress = *n;
      } else {
        problem("\"" + key + "\" \"" + value + "\" is outside 0 to " + std::to_string(kMaxConnections) +
                "; the line is ignored");
      }
    }
  }
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
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].empty() || lines[i][0] == ';') continue;
    ApplyConfigLine(lines[i], static_cast<int>(i + 1));
  }
  return true;
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
