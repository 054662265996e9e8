#include "ftp/date.h"

#include <gtest/gtest.h>

namespace zorvex {
namespace {

void ExpectFields(const Date& d, int y, int mo, int day, int h, int mi, int s) {
  EXPECT_EQ(d.Year(), y);
  EXPECT_EQ(d.Month(), mo);
  EXPECT_EQ(d.Day(), day);
  EXPECT_EQ(d.Hour(), h);
  EXPECT_EQ(d.Minute(), mi);
  EXPECT_EQ(d.Second(), s);
}

TEST(DateTest, ZeroIs30December1899) {
  const Date zero;
  EXPECT_EQ(zero.ToDouble(), 0.0);
  ExpectFields(zero, 1899, 12, 30, 0, 0, 0);
  EXPECT_EQ(zero.ToString(), "1899-12-30 00:00:00");
  EXPECT_EQ(Date::FromFields(1899, 12, 30, 0, 0, 0), zero);
}

TEST(DateTest, KnownAutomationDates) {
  EXPECT_EQ(Date::FromFields(1900, 1, 1, 0, 0, 0)->ToDouble(), 2.0);
  EXPECT_EQ(Date::FromFields(2001, 3, 7, 0, 0, 0)->ToDouble(), 36957.0);
  EXPECT_DOUBLE_EQ(Date::FromFields(2001, 3, 7, 18, 0, 0)->ToDouble(), 36957.75);
  // Before day 0 the whole part counts back and the time counts forward.
  EXPECT_DOUBLE_EQ(Date::FromFields(1899, 12, 29, 6, 0, 0)->ToDouble(), -1.25);
  ExpectFields(Date::FromDouble(-1.25), 1899, 12, 29, 6, 0, 0);
  ExpectFields(Date::FromDouble(-2.5), 1899, 12, 28, 12, 0, 0);
}

TEST(DateTest, FieldsRoundTripToTheSecond) {
  // Every second of a day, and days across the whole range, come back exact
  // (no 59.9999 seconds read as 59 or as the previous minute).
  for (int s = 0; s < 86400; s += 7) {
    const auto d = Date::FromFields(2023, 8, 31, s / 3600, s / 60 % 60, s % 60);
    ASSERT_TRUE(d);
    ASSERT_EQ(d->Hour() * 3600 + d->Minute() * 60 + d->Second(), s) << s;
    ASSERT_EQ(d->Day(), 31);
  }
  for (int y : {100, 1600, 1899, 1900, 1970, 2000, 2024, 9999}) {
    const auto d = Date::FromFields(y, 2, y % 4 == 0 && (y % 100 || y % 400 == 0) ? 29 : 28, 23, 59, 59);
    ASSERT_TRUE(d) << y;
    ExpectFields(*d, y, 2, d->Day(), 23, 59, 59);
    EXPECT_EQ(d->Year(), y);
  }
  ExpectFields(*Date::FromFields(100, 1, 1, 0, 0, 0), 100, 1, 1, 0, 0, 0);
  ExpectFields(*Date::FromFields(9999, 12, 31, 23, 59, 59), 9999, 12, 31, 23, 59, 59);
}

TEST(DateTest, FractionsRoundToTheNearestSecond) {
  const double one_second = 1.0 / 86400.0;
  ExpectFields(Date::FromDouble(36957.0 + 59.6 * one_second), 2001, 3, 7, 0, 1, 0);
  ExpectFields(Date::FromDouble(36957.0 + 59.4 * one_second), 2001, 3, 7, 0, 0, 59);
  // Just before midnight rounds up into the next day.
  ExpectFields(Date::FromDouble(36958.0 - 0.2 * one_second), 2001, 3, 8, 0, 0, 0);
  ExpectFields(Date::FromDouble(-1.0 - (1.0 - 0.2 * one_second)), 1899, 12, 30, 0, 0, 0);
}

TEST(DateTest, FromFieldsRejectsOutOfRange) {
  EXPECT_FALSE(Date::FromFields(99, 1, 1, 0, 0, 0));
  EXPECT_FALSE(Date::FromFields(10000, 1, 1, 0, 0, 0));
  EXPECT_FALSE(Date::FromFields(2001, 0, 1, 0, 0, 0));
  EXPECT_FALSE(Date::FromFields(2001, 13, 1, 0, 0, 0));
  EXPECT_FALSE(Date::FromFields(2001, 2, 29, 0, 0, 0));
  EXPECT_TRUE(Date::FromFields(2000, 2, 29, 0, 0, 0));
  EXPECT_FALSE(Date::FromFields(1900, 2, 29, 0, 0, 0));
  EXPECT_FALSE(Date::FromFields(2001, 4, 31, 0, 0, 0));
  EXPECT_FALSE(Date::FromFields(2001, 1, 0, 0, 0, 0));
  EXPECT_FALSE(Date::FromFields(2001, 1, 1, 24, 0, 0));
  EXPECT_FALSE(Date::FromFields(2001, 1, 1, 0, 60, 0));
  EXPECT_FALSE(Date::FromFields(2001, 1, 1, 0, 0, 60));
  EXPECT_FALSE(Date::FromFields(2001, 1, 1, -1, 0, 0));
}

TEST(DateTest, ParseReadsTheSearchText) {
  const auto d = Date::Parse("2001/3/7 9:5:0");
  ASSERT_TRUE(d);
  EXPECT_EQ(d->ToString(), "2001-03-07 09:05:00");
  EXPECT_EQ(Date::Parse("2001/03/07 09:05:00"), d);  // leading zeros tolerated
  EXPECT_EQ(Date::Parse("9999/12/31 23:59:59"), Date::FromFields(9999, 12, 31, 23, 59, 59));
}

TEST(DateTest, ParseRefusesWhatIsNotADate) {
  for (const char* text :
       {"0/0/0 0:0:0", "", "2001/3/7", "2001/3/7 9:5", "2001/3/7 9:5:0 ",
        " 2001/3/7 9:5:0", "2001-3-7 9:5:0", "2001/3/7  9:5:0", "2001/2/30 0:0:0",
        "2001/3/7 9:5:x", "+2001/3/7 9:5:0", "2001/3/7 9:5:-1",
        "99999999999999999999/1/1 0:0:0", "30828/9/14 2:48:5"}) {
    EXPECT_FALSE(Date::Parse(text)) << text;
  }
}

TEST(DateTest, GettersSurviveAnyDouble) {
  for (double v : {1e300, -1e300, std::numeric_limits<double>::quiet_NaN(),
                   std::numeric_limits<double>::infinity()}) {
    const Date d = Date::FromDouble(v);
    EXPECT_GE(d.Year(), 100);
    EXPECT_LE(d.Year(), 9999);
    EXPECT_FALSE(d.ToString().empty());
  }
}

}  // namespace
}  // namespace zorvex
