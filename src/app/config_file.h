// Reading zelk_config.txt into the settings record.
#pragma once

#include <string>

// Reads zelk_config.txt from the data directory into Settings, printing the
// messages of bad lines. False when the file does not exist or cannot be
// read, or when a line stops the start (after printing the lines that say
// so). Main thread only.
bool LoadConfig();
// Applies one setting line; a line that is wrong is reported with its number
// (and the key and value), and changes nothing. False when the server must
// not start with it: a value of ban_time, rconport or ban_base that cannot be
// read (falling back would ban for ever, watch no game server, or split a
// community's bans). Every other bad line keeps the setting's value. Main
// thread only.
bool ApplyConfigLine(const std::string& line, int lineNumber = 0);
// The value of the last line with this key in zelk_config.txt, read without a
// word on the console (the admin's tools); empty when there is none.
std::string QuietConfigValue(const std::string& key);
// False, after a line that says so, when rconport leaves no room for the
// command port (rconport + 1000) among the real ports. Main thread only.
bool CheckRconPort();
// "/" and "\" become "/", and a final "/" is added; empty stays empty.
std::string NormaliseScreenDir(const std::string& dir);
