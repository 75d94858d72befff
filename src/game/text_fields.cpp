// Placeholder until the supervision cycle lands.
#include "game/text_fields.h"

std::string ExtractBackslashed(const std::string&, uint8_t) { return std::string(); }
uint8_t CountBackslashed(const std::string&) { return 0; }
uint8_t CountQuoted(const std::string&) { return 0; }
std::string NeutraliseRconText(const std::string& text) { return text; }
