// Reading the process environment.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The value of the variable; nullopt when it is unset or empty.
std::optional<std::string> EnvironmentValue(const char* name);
// This host's name ("localhost" when it has none).
std::string HostName();
// The name of the process's real user (who ran it, even through a set-user-ID
// program), from the user database; "uid N" when it has no entry. When the
// login user differs (runuser or sudo from an admin's session), it follows:
// "acserver (login alice)". On Windows the account the program runs as.
std::string RealUserName();

}  // namespace platform
