// JSON string literals and UTF-8 text from the program's 8-bit texts. Texts
// from clients and the game server are 8-bit, in UTF-8 or in a code page
// (players' names often in cp1251): valid UTF-8 is kept as the characters it
// encodes, and every byte that is not part of a valid UTF-8 sequence is read
// as the cp1251 character of that byte (U+FFFD for 0x98, which cp1251 leaves
// empty), so what comes out is always valid UTF-8.
#pragma once

#include <string>

// A JSON string literal, quotes included: quotes, backslashes and control
// characters escaped, the rest as Utf8Text writes it. Thread safe.
std::string JsonString(const std::string& text);
// The text in valid UTF-8, by the rule above; nothing escaped. Thread safe.
std::string Utf8Text(const std::string& text);
