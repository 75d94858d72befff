// The delimited-field operations of the status answer and the quoted files,
// and the cleaning of texts for remote-console commands.
#include "rcon/text_fields.h"

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace {

TEST(BackslashFields, FieldsArePairsWithAnythingBetween) {
  const std::string answer = "junk\\host\\\\mark\\ sep \\Bob\\\\1.2.3.4:5\\";
  EXPECT_EQ(ExtractBackslashed(answer, 1), "host");
  EXPECT_EQ(ExtractBackslashed(answer, 2), "mark");
  EXPECT_EQ(ExtractBackslashed(answer, 3), "Bob");
  EXPECT_EQ(ExtractBackslashed(answer, 4), "1.2.3.4:5");
  EXPECT_EQ(ExtractBackslashed(answer, 5), "");
  EXPECT_EQ(ExtractBackslashed("no delimiter", 1), "");
  EXPECT_EQ(ExtractBackslashed("\\open", 1), "");
  EXPECT_EQ(CountBackslashed(answer), 4);
  EXPECT_EQ(CountBackslashed("\\a\\\\b"), 1) << "a trailing lone backslash is no pair";
  EXPECT_EQ(CountQuoted("\"a\" \"b\" \""), 2);
  EXPECT_EQ(CountQuoted("none"), 0);
}

TEST(BackslashFields, MoreThan255PairsAreReportedAndCountedAs255) {
  testenv::TTempDir dir;
  testenv::ResetProcessFacilities(dir.Path());
  std::string many;
  for (int i = 0; i < 300; ++i) many += "\\x\\";
  EXPECT_EQ(CountBackslashed(many), 255);
  EXPECT_NE(testenv::ReadFile(dir.Path() + "logs/zelk_logs.txt").find("ERROR (argument module) 2\r\n"),
            std::string::npos);
}

TEST(RconText, QuotesBecomeSingleAndControlBytesGo) {
  EXPECT_EQ(NeutraliseRconText("Bob"), "Bob");
  EXPECT_EQ(NeutraliseRconText("a\"b\"; quit\n\r\t\x01\x7F" "c"), "a'b'; quitc");
  EXPECT_EQ(NeutraliseRconText("\xC2\xE0\xF1\xFF"), "\xC2\xE0\xF1\xFF") << "8-bit letters stay";
}

TEST(ExtractQuoted, FieldsAndMissingQuotes) {
  EXPECT_EQ(ExtractQuoted("\"a\" \"b\"", 1), "a");
  EXPECT_EQ(ExtractQuoted("\"a\" \"b\"", 2), "b");
  EXPECT_EQ(ExtractQuoted("\"a\"", 2), "");
  EXPECT_EQ(ExtractQuoted("\"a", 1), "");
  EXPECT_EQ(ExtractQuoted("x=\"\" \"v\"", 2), "v");
  EXPECT_EQ(ExtractQuoted("no quotes", 1), "");
}

}  // namespace
