// Delimited fields of the status answer and of the quoted files: field k is the
// text between the (2k-1)-th and 2k-th delimiter. Thread safe.
#pragma once

#include <cstdint>
#include <string>

// Field k (from 1) between backslashes; empty when the text holds fewer than 2k.
std::string ExtractBackslashed(const std::string& text, uint8_t k);
// Field k (from 1) between double quotes, the same way: how the configuration,
// the allow-list and the ban base read their lines.
std::string ExtractQuoted(const std::string& line, uint8_t k);
// Complete backslash pairs in text. More than 255 pairs: "ERROR (argument
// module) 2" in the full log and 255.
uint8_t CountBackslashed(const std::string& text);
// Complete double-quote pairs in text. More than 255 pairs: "ERROR (argument
// module) 3" in the full log and 255.
uint8_t CountQuoted(const std::string& text);
// Makes a text from a client or a player safe inside a remote-console command:
// every double quote becomes a single quote and every control byte (below 0x20,
// and 0x7F) is removed, so the command holds exactly the quotes we put there.
// Bytes from 0x80 up stay as they are.
std::string NeutraliseRconText(const std::string& text);
