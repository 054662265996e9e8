#include "inet/wildcard.h"

#include <chrono>
#include <string>

#include <gtest/gtest.h>

namespace inet {
namespace {

TEST(Wildcard, LiteralsAndEmptyPattern) {
  EXPECT_TRUE(MatchWildcard("", ""));
  EXPECT_FALSE(MatchWildcard("", "a"));
  EXPECT_FALSE(MatchWildcard("a", ""));
  EXPECT_TRUE(MatchWildcard("report.txt", "report.txt"));
  EXPECT_FALSE(MatchWildcard("report.txt", "report.txt2"));
  EXPECT_FALSE(MatchWildcard("report.txt", "Report.txt"));  // case counts
  EXPECT_FALSE(MatchWildcard("a.TXT", "a.txt"));
}

TEST(Wildcard, Star) {
  EXPECT_TRUE(MatchWildcard("*", ""));
  EXPECT_TRUE(MatchWildcard("*", "anything at all"));
  EXPECT_TRUE(MatchWildcard("**", "x"));
  EXPECT_TRUE(MatchWildcard("*.txt", "a.txt"));
  EXPECT_TRUE(MatchWildcard("*.txt", ".txt"));
  EXPECT_TRUE(MatchWildcard("*.txt", "a.txt.txt"));
  EXPECT_FALSE(MatchWildcard("*.txt", "a.txt.bak"));
  EXPECT_TRUE(MatchWildcard("a*b*c", "abc"));
  EXPECT_TRUE(MatchWildcard("a*b*c", "aXXbYYbZZc"));
  EXPECT_FALSE(MatchWildcard("a*b*c", "aXXcYYb"));
  EXPECT_TRUE(MatchWildcard("*.*", "a.b"));
  EXPECT_FALSE(MatchWildcard("*.*", "ab"));
  EXPECT_TRUE(MatchWildcard("data*", "data"));
}

TEST(Wildcard, QuestionMarkTakesOneCharacter) {
  EXPECT_TRUE(MatchWildcard("?", "a"));
  EXPECT_FALSE(MatchWildcard("?", ""));
  EXPECT_FALSE(MatchWildcard("?", "ab"));
  EXPECT_TRUE(MatchWildcard("file?.log", "file1.log"));
  EXPECT_FALSE(MatchWildcard("file?.log", "file.log"));
  EXPECT_TRUE(MatchWildcard("?*?", "ab"));
  EXPECT_FALSE(MatchWildcard("?*?", "a"));
}

TEST(Wildcard, MultibyteCharactersCountOnce) {
  const std::string kana = "\xE3\x81\x82";         // U+3042, 3 bytes
  const std::string emoji = "\xF0\x9F\x98\x80";     // U+1F600, 4 bytes
  const std::string e_acute = "\xC3\xA9";           // U+00E9, 2 bytes
  EXPECT_TRUE(MatchWildcard("?", kana));
  EXPECT_TRUE(MatchWildcard("?", emoji));
  EXPECT_TRUE(MatchWildcard("?", e_acute));
  EXPECT_FALSE(MatchWildcard("??", kana));
  EXPECT_FALSE(MatchWildcard("???", kana));
  EXPECT_TRUE(MatchWildcard("?.txt", kana + ".txt"));
  EXPECT_TRUE(MatchWildcard("??.txt", kana + emoji + ".txt"));
  EXPECT_TRUE(MatchWildcard(kana + "*", kana + emoji));
  EXPECT_TRUE(MatchWildcard("*" + emoji, "ab" + emoji));
  EXPECT_TRUE(MatchWildcard("*?" + kana, emoji + kana));
  EXPECT_FALSE(MatchWildcard("*?" + kana, kana));
  // Bytes that are not UTF-8 count one each, and never run past the end.
  EXPECT_TRUE(MatchWildcard("??", "\xFF\xFE"));
  EXPECT_TRUE(MatchWildcard("??", "\xE3\x81"));  // a cut sequence
  EXPECT_TRUE(MatchWildcard("?", "\xC3"));
  EXPECT_TRUE(MatchWildcard("*?", std::string("\xE3", 1)));
  // A literal never matches part of a character.
  EXPECT_FALSE(MatchWildcard("\xC3?", e_acute));
  EXPECT_FALSE(MatchWildcard("*\xA9", e_acute));
  EXPECT_TRUE(MatchWildcard("\xC3?", "\xC3z"));
}

TEST(Wildcard, PathologicalPatternsRunInPolynomialTime) {
  std::string pattern;
  for (int i = 0; i < 40; ++i) pattern += "a*";
  pattern += "b";
  const std::string name(20000, 'a');
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(MatchWildcard(pattern, name));
  EXPECT_TRUE(MatchWildcard(pattern, name + "b"));
  EXPECT_FALSE(MatchWildcard(std::string(5000, '*') + "?b", name));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(2));
}

TEST(Wildcard, HasWildcard) {
  EXPECT_FALSE(HasWildcard(""));
  EXPECT_FALSE(HasWildcard("/pub/dir/file.txt"));
  EXPECT_TRUE(HasWildcard("*.txt"));
  EXPECT_TRUE(HasWildcard("/pub/a?c"));
}

}  // namespace
}  // namespace inet
