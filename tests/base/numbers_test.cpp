// The one integer parser, in both of its forms.
#include "base/numbers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

namespace {

TEST(ParseInteger, ConfigurationFormTakesSignsHexAndRange) {
  const std::pair<const char*, int32_t> valid[] = {{"  -12", -12}, {"+7", 7},   {"$FFFFFFFF", -1},
                                                   {"0x10", 16},    {"X1f", 31}, {"-$10", -16},
                                                   {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN}};
  for (const auto& [text, value] : valid) EXPECT_EQ(ParseInteger(text, NumberForm::DecimalOrHex), value) << text;
  for (const char* text : {"2147483648", "$100000000", "12 ", "", "-", "0x", "1e3"}) {
    EXPECT_FALSE(ParseInteger(text, NumberForm::DecimalOrHex)) << text;
  }
}

TEST(ParseInteger, DecimalFormTakesASignAndDigitsOnly) {
  const std::pair<const char*, int32_t> valid[] = {{"27005", 27005}, {"-3", -3}, {"+0", 0}, {"2147483647", INT32_MAX}};
  for (const auto& [text, value] : valid) EXPECT_EQ(ParseInteger(text), value) << text;
  for (const char* text : {" 1", "0x10", "$1", "7x", "2147483648", "", "+"}) EXPECT_FALSE(ParseInteger(text)) << text;
}

TEST(MinutesText, OneMinuteIsSingular) {
  EXPECT_EQ(MinutesText(1), "1 minute");
  EXPECT_EQ(MinutesText(0), "0 minutes");
  EXPECT_EQ(MinutesText(30), "30 minutes");
}

}  // namespace
