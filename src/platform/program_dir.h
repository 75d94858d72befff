// Where the program's data files live: the directory of the program file
// (/proc/self/exe; GetModuleFileNameW on Windows), or the directory named by
// ACSERVER_HOME when it is set.
#pragma once

#include <string>

namespace platform {

// The data directory, always ending in "/" (on Windows in a backslash, or in
// the "/" that ACSERVER_HOME ends in). Thread safe.
std::string DataDirectory();
// Replaces the data directory (tests; a trailing separator is added). Call before
// other threads use it.
void SetDataDirectory(const std::string& directory);
// The directory of the program file itself, ending in "/" (a backslash on
// Windows).
std::string ProgramFileDirectory();

}  // namespace platform
