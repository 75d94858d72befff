// Reading the process environment.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The value of the variable; nullopt when it is unset or empty.
std::optional<std::string> EnvironmentValue(const char* name);
// This host's name ("localhost" when it has none).
std::string HostName();

}  // namespace platform
