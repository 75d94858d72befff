// UTF-8, the program's text everywhere, to and from UTF-16, the text of the
// Win32 W functions: every path and text handed to the system or read from it
// goes through these two.
#pragma once

#include <string>

namespace platform {

// The UTF-16 form of UTF-8 text. A byte sequence that is not UTF-8 becomes
// U+FFFD, so a bad name fails at the call that uses it, not here.
std::wstring WideOf(const std::string& text);
// The UTF-8 form of UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string Utf8Of(const std::wstring& text);

}  // namespace platform
