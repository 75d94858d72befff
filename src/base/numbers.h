// The one integer parser of the program. Every number read from a file, a
// command line or an answer of the game server goes through it, so that all
// of them agree on what a number is and none of them overflows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

enum class NumberForm {
  // An optional sign and decimal digits, nothing before or after: ban records,
  // ports in answers of the game server, numbers in client commands.
  Decimal,
  // The configuration's form: optional leading blanks, an optional sign, then
  // decimal digits, or hexadecimal digits after $, x, X, 0x or 0X (read as a
  // 32-bit pattern, so $FFFFFFFF is -1).
  DecimalOrHex,
};

// The value when the whole text is a number of that form within the signed
// 32-bit range; nullopt otherwise. Thread safe.
std::optional<int32_t> ParseInteger(const std::string& text, NumberForm form = NumberForm::Decimal);
// The same for a decimal number in the signed 64-bit range (times in seconds).
std::optional<int64_t> ParseInteger64(const std::string& text);
// "1 minute", "30 minutes": a count of minutes as the admin and players read it.
// Thread safe.
std::string MinutesText(int64_t minutes);
