// The system's own words for a Win32 error code, for the error texts that
// name the failing call ("CreateFileW C:\acserver\zelk_bans.txt: Access is
// denied. (error 5)"); the number stays beside the message, which a Windows
// in another language writes in that language.
#pragma once

#include <string>

namespace platform {

// The message of code (GetLastError) in UTF-8, without its line end, followed
// by the number; "error N" alone when the system has no message for it.
std::string ErrorText(unsigned long code);
// ErrorText of GetLastError().
std::string LastErrorText();

}  // namespace platform
