#include "app/settings_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/run_error.h"

namespace zorvex {
namespace {

using ::testing::ElementsAre;

// Reads `count` string fields.
std::vector<std::string> Strings(const std::string& text, int count) {
  std::istringstream in(text);
  SettingsReader reader(in);
  std::vector<std::string> fields;
  for (int i = 0; i < count; ++i) fields.push_back(reader.InputString());
  return fields;
}

int ErrorOf(const std::string& text, int count) {
  try {
    Strings(text, count);
  } catch (const RunError& e) {
    return e.number();
  }
  return 0;
}

int ParseError(const std::string& text) {
  try {
    ParseLong(text);
  } catch (const RunError& e) {
    return e.number();
  }
  return 0;
}

TEST(SettingsReaderTest, SplitsAtCommasAndLineEnds) {
  EXPECT_THAT(Strings("a,b\r\nc\nd\re,f", 6),
              ElementsAre("a", "b", "c", "d", "e", "f"));
  // A comma before the end opens one more, empty field.
  EXPECT_THAT(Strings("host,user,pass,1,0,", 6),
              ElementsAre("host", "user", "pass", "1", "0", ""));
  EXPECT_THAT(Strings(",,,,,", 6), ElementsAre("", "", "", "", "", ""));
  EXPECT_THAT(Strings("\r\n\r\n", 2), ElementsAre("", ""));
}

TEST(SettingsReaderTest, SkipsLeadingBlanksAndTrimsTrailingOnes) {
  EXPECT_THAT(Strings("  a b  ,\t c\t,d", 3), ElementsAre("a b", "c", "d"));
}

TEST(SettingsReaderTest, QuotedFieldsKeepCommasSpacesAndLineEnds) {
  EXPECT_THAT(Strings("\"a,b\",\" x \",\"l1\r\nl2\",\"\"", 4),
              ElementsAre("a,b", " x ", "l1\r\nl2", ""));
  // Anything after the closing quote up to the separator is dropped.
  EXPECT_THAT(Strings("\"pw\"junk,next", 2), ElementsAre("pw", "next"));
  // A quote inside an unquoted field is an ordinary character.
  EXPECT_THAT(Strings("a\"b,c", 2), ElementsAre("a\"b", "c"));
}

TEST(SettingsReaderTest, UnterminatedQuoteRunsToTheEnd) {
  EXPECT_THAT(Strings("\"abc,def\r\nghi", 1), ElementsAre("abc,def\r\nghi"));
  EXPECT_EQ(ErrorOf("\"abc,def", 2), kErrInputPastEnd);
}

TEST(SettingsReaderTest, ReadingPastTheEndIsError62) {
  EXPECT_EQ(ErrorOf("", 1), kErrInputPastEnd);
  EXPECT_EQ(ErrorOf("h,u,p,1,0", 6), kErrInputPastEnd);
  EXPECT_EQ(ErrorOf("h,u,p,1,0\r\n", 6), kErrInputPastEnd);
  EXPECT_EQ(ErrorOf("h,u,p,1,0,\r\n", 6), 0);
}

TEST(SettingsReaderTest, ExtraFieldsAreLeftUnread) {
  std::istringstream in("h,u,p,1,0,r,extra,\"more\nlines\"\n");
  SettingsReader reader(in);
  for (int i = 0; i < 6; ++i) reader.InputString();
  EXPECT_FALSE(reader.AtEnd());
}

TEST(SettingsReaderTest, NulAndInvalidBytesAreKeptAsData) {
  const std::string text("a\0b,\xff\xfe,c", 8);
  // In the C locale the file's bytes pass through unchanged.
  EXPECT_THAT(Strings(text, 3),
              ElementsAre(std::string("a\0b", 3), "\xff\xfe", "c"));
}

TEST(SettingsReaderTest, LongFieldsAreCappedAndTheRestStillRead) {
  const std::string huge(3 * 1024 * 1024, 'x');
  const auto fields = Strings(huge + ",next," + "\"" + huge + "\",last", 4);
  EXPECT_EQ(fields[0].size(), SettingsReader::kMaxFieldBytes);
  EXPECT_EQ(fields[1], "next");
  EXPECT_EQ(fields[2].size(), SettingsReader::kMaxFieldBytes);
  EXPECT_EQ(fields[3], "last");
}

TEST(SettingsReaderTest, NumericFields) {
  std::istringstream in(" 1 ,,\"7\",-3,&HFF,&o17,2.5,3.5,-2.5,1E3,\t0\n");
  SettingsReader reader(in);
  std::vector<int32_t> values;
  while (!reader.AtEnd()) values.push_back(reader.InputLong());
  EXPECT_THAT(values, ElementsAre(1, 0, 7, -3, 255, 15, 2, 4, -2, 1000, 0));
}

TEST(SettingsReaderTest, ParseLongLimits) {
  EXPECT_EQ(ParseLong("2147483647"), 2147483647);
  EXPECT_EQ(ParseLong("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseLong("&HFFFFFFFF"), -1);
  EXPECT_EQ(ParseLong("+5"), 5);
  EXPECT_EQ(ParseLong("1D2"), 100);
  EXPECT_EQ(ParseLong("1E-999"), 0);
  EXPECT_EQ(ParseError("2147483648"), kErrOverflow);
  EXPECT_EQ(ParseError("-2147483649"), kErrOverflow);
  EXPECT_EQ(ParseError("1E999"), kErrOverflow);
  EXPECT_EQ(ParseError("&H100000000"), kErrOverflow);
  EXPECT_EQ(ParseError(std::string(100000, '9')), kErrOverflow);
  for (const char* bad : {"yes", "1 2", "1x", "-", ".", "1E", "&H", "&HG",
                          "&O8", "0x10", "nan", "inf", "1,5"}) {
    EXPECT_EQ(ParseError(bad), kErrTypeMismatch) << bad;
  }
}

}  // namespace
}  // namespace zorvex
