// Lines of tab-separated fields, as the journals of bans waiting for a base
// keep them: a field may hold any byte, since tab, line feed, carriage return
// and backslash are written "\t", "\n", "\r" and "\\".
#pragma once

#include <string>
#include <vector>

// The field as it is written into a line.
std::string EscapeTabField(const std::string& text);
// The fields of a line, unescaped; at least one.
std::vector<std::string> SplitTabFields(const std::string& line);
