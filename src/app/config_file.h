// Reading zelk_config.txt into the settings record.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "base/settings.h"
#include "base/word_table.h"

// The words of "status_query", "chat_command" and "notify_format"; the first
// is the default.
// Parsing and the settings listing at start both read them.
inline constexpr TWord<StatusQuery> kStatusQueryWords[] = {
    {"auto", StatusQuery::Auto}, {"addon", StatusQuery::Addon}, {"status", StatusQuery::Status}};
inline constexpr TWord<ChatCommand> kChatCommandWords[] = {
    {"auto", ChatCommand::Auto}, {"amx_tsay", ChatCommand::AmxTsay}, {"say", ChatCommand::Say}};
inline constexpr TWord<NotifyFormat> kNotifyFormatWords[] = {{"discord", NotifyFormat::Discord},
                                                            {"json", NotifyFormat::Json}};
// The word of a setting in its table; the first (default) word when absent.
template <typename T, size_t N>
constexpr const char* ConfigWord(const TWord<T> (&words)[N], T value) {
  return WordOf(words, value, words[0].Word);
}
// Every key zelk_config.txt knows, in the order of the key table.
std::vector<std::string> ConfigKeyNames();

// Reads zelk_config.txt from the data directory into settings, printing the
// messages of bad lines. False when the file does not exist or cannot be
// read, or when a line stops the start (after printing the lines that say
// so). Main thread only.
bool LoadConfig(SettingsRecord& settings);
// Applies one setting line; a line that is wrong is reported with its number
// (and the key and value), and changes nothing. False when the server must
// not start with it: a value of ban_time, rconport or ban_base that cannot be
// read (falling back would ban for ever, watch no game server, or split a
// community's bans). Every other bad line keeps the setting's value. Main
// thread only.
bool ApplyConfigLine(SettingsRecord& settings, const std::string& line, int lineNumber = 0);
// The value of the last line with this key in zelk_config.txt, read without a
// word on the console (the admin's tools); empty when there is none.
std::string QuietConfigValue(const std::string& key);
// False, after a line that says so, when rconport leaves no room for the
// command port (rconport + 1000) among the real ports. Main thread only.
bool CheckRconPort(const SettingsRecord& settings);
// "/" and "\" become "/", and a final "/" is added; empty stays empty.
std::string NormaliseScreenDir(const std::string& dir);
