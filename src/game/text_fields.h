// Delimited fields of the status answer and of the allow-list: field k is the
// text between the (2k-1)-th and 2k-th delimiter.
#pragma once

#include <cstdint>
#include <string>

std::string ExtractBackslashed(const std::string& text, uint8_t k);
// Complete backslash pairs in text.
uint8_t CountBackslashed(const std::string& text);
// Complete double-quote pairs in text.
uint8_t CountQuoted(const std::string& text);
// Makes a text from a client or a player safe inside a remote-console command:
// every double quote becomes a single quote and every control byte (below 0x20,
// and 0x7F) is removed, so the command holds exactly the quotes we put there.
std::string NeutraliseRconText(const std::string& text);
