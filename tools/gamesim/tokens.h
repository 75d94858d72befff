// Text rules of the engine that several parts of the simulator share.
#pragma once

#include <cstdint>
#include <string>

namespace gamesim {

// ASCII lower case, as the engine's case-insensitive comparisons see text.
std::string Lower(std::string text);
// The engine's atoi: leading blanks, an optional sign, digits; 0 for none.
int64_t EngineAtoi(const std::string& text);

}  // namespace gamesim
