// The allow-list file allow_connections.txt: which lines it accepts.
#pragma once

#include <string>
#include <vector>

// True exactly when the line holds two or four double quotes.
bool IsAllowLineValid(const std::string& line);
// The accepted lines of allow_connections.txt in file order, printed between
// the opening and the closing banner; empty, without any output, when the file
// does not exist. Main thread only.
std::vector<std::string> ReadAllowListFile();
