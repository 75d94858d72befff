// Reading zelk_config.txt into the settings record.
#pragma once

#include <string>

// Reads zelk_config.txt from the data directory into Settings, printing the
// messages of bad lines. False when the file does not exist (after printing
// the line that says so). Main thread only.
bool LoadConfig();
// Applies one setting line. Main thread only.
void ApplyConfigLine(const std::string& line);
// "/" and "\" become "/", and a final "/" is added; empty stays empty.
std::string NormaliseScreenDir(const std::string& dir);
