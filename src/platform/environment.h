// Reading the process environment.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The value of the variable; nullopt when it is unset or empty.
std::optional<std::string> EnvironmentValue(const char* name);

}  // namespace platform
