// The allow-list file allow_connections.txt: which lines it accepts.
#pragma once

#include <string>

// True exactly when the line holds two or four double quotes.
bool IsAllowLineValid(const std::string& line);
