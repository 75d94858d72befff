// Where the program's data files live: the directory of the program file
// (/proc/self/exe), or the directory named by ACSERVER_HOME when it is set.
#pragma once

#include <string>

namespace platform {

// The data directory, always ending in "/". Thread safe.
std::string DataDirectory();
// Replaces the data directory (tests; a trailing "/" is added). Call before
// other threads use it.
void SetDataDirectory(const std::string& directory);
// The directory of the program file itself, ending in "/".
std::string ProgramFileDirectory();

}  // namespace platform
