#include "app/text_functions.h"

#include <gtest/gtest.h>

#include <string>

#include "app/run_error.h"

namespace zorvex {
namespace {

int ErrorOf(void (*f)()) {
  try {
    f();
  } catch (const RunError& e) {
    return e.number();
  }
  return 0;
}

TEST(TextFunctionsTest, PositionsCountCharactersNotBytes) {
  const std::string s = "/p\xC3\xA9\xE6\x97\xA5,x";  // "/pé日,x"
  EXPECT_EQ(Len(s), 6);
  EXPECT_EQ(InStr(s, ","), 5);
  EXPECT_EQ(Mid(s, 3, 1), "\xC3\xA9");
  EXPECT_EQ(Mid(s, 4, 1), "\xE6\x97\xA5");
  EXPECT_EQ(Mid(s, 6), "x");
}

TEST(TextFunctionsTest, InvalidBytesAreCharactersOfTheirOwn) {
  // A lone lead byte, a stray continuation byte, an overlong form, a surrogate.
  const std::string s = "\xC3,\x80\xC0\xAF\xED\xA0\x80/";
  EXPECT_EQ(Len(s), 9);
  EXPECT_EQ(InStr(s, ","), 2);
  EXPECT_EQ(InStrRev(s, "/"), 9);
  EXPECT_EQ(Mid(s, 3, 3), "\x80\xC0\xAF");
  // A truncated sequence at the end.
  EXPECT_EQ(Len("a\xE6\x97"), 3);
}

TEST(TextFunctionsTest, MidAndLeftBounds) {
  EXPECT_EQ(Mid("abc", 4, 0), "");
  EXPECT_EQ(Mid("abc", 9, 2), "");
  EXPECT_EQ(Mid("abc", 2, 99), "bc");
  EXPECT_EQ(Mid("abc", 9), "");
  EXPECT_EQ(Left("abc", 0), "");
  EXPECT_EQ(Left("abc", 5), "abc");
  EXPECT_EQ(ErrorOf([] { Mid("abc", 4, -1); }), kErrInvalidCall);
  EXPECT_EQ(ErrorOf([] { Mid("abc", 0, 1); }), kErrInvalidCall);
  EXPECT_EQ(ErrorOf([] { Mid("abc", 0); }), kErrInvalidCall);
  EXPECT_EQ(ErrorOf([] { Left("abc", -1); }), kErrInvalidCall);
}

TEST(TextFunctionsTest, SearchAndTrim) {
  EXPECT_EQ(InStr("abc", ","), 0);
  EXPECT_EQ(InStr("a,b,c", ","), 2);
  EXPECT_EQ(InStrRev("a/b/c", "/"), 4);
  EXPECT_EQ(InStrRev("abc", "/"), 0);
  EXPECT_EQ(Trim("  a b  "), "a b");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim("\ta\t"), "\ta\t");  // only spaces are trimmed
}

}  // namespace
}  // namespace zorvex
