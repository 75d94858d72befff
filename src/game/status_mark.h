// The status mark of the game server: header field 2 of the last good status
// answer (first 32 characters), "unknown" after a failed request, empty at start.
// Main thread only (the supervision cycle).
#pragma once

#include <string>

extern std::string StatusMark;
