#include "inet/filetime.h"

#include <array>
#include <cstdint>
#include <initializer_list>

#include <gtest/gtest.h>

namespace inet {
namespace {

uint64_t Civil(int y, int mo, int d, int h, int mi, int s) {
  FILETIME ft;
  EXPECT_TRUE(FileTimeFromCivil(y, mo, d, h, mi, s, &ft));
  return FileTimeToU64(ft);
}

TEST(FileTime, KnownValues) {
  EXPECT_EQ(Civil(1601, 1, 1, 0, 0, 0), 0u);
  EXPECT_EQ(Civil(1970, 1, 1, 0, 0, 0), 116444736000000000ULL);
  EXPECT_EQ(Civil(1980, 1, 1, 0, 0, 0), 119600064000000000ULL);
  EXPECT_EQ(Civil(2001, 3, 7, 9, 5, 0), 126284295000000000ULL);
  EXPECT_EQ(Civil(2024, 2, 29, 23, 59, 59), 133537247990000000ULL);
  FILETIME ft;
  ASSERT_TRUE(FileTimeFromUnix(983955900, &ft));  // 2001-03-07 09:05:00
  EXPECT_EQ(FileTimeToU64(ft), 126284295000000000ULL);
}

TEST(FileTime, RefusesFieldsOutOfRange) {
  FILETIME ft = FileTimeFromU64(42);
  for (auto [y, mo, d, h, mi, s] : std::initializer_list<std::array<int, 6>>{
           {1600, 12, 31, 0, 0, 0}, {30828, 1, 1, 0, 0, 0},
           {2001, 0, 1, 0, 0, 0},   {2001, 13, 1, 0, 0, 0},
           {2001, 2, 29, 0, 0, 0},  {1900, 2, 29, 0, 0, 0},
           {2001, 2, 30, 0, 0, 0},  {2001, 4, 31, 0, 0, 0},
           {2001, 1, 0, 0, 0, 0},   {2001, 1, 1, 24, 0, 0},
           {2001, 1, 1, 0, 60, 0},  {2001, 1, 1, 0, 0, 60},
           {2001, 1, 1, -1, 0, 0},  {-5, 1, 1, 0, 0, 0}}) {
    EXPECT_FALSE(FileTimeFromCivil(y, mo, d, h, mi, s, &ft))
        << y << "-" << mo << "-" << d << " " << h << ":" << mi << ":" << s;
  }
  EXPECT_EQ(FileTimeToU64(ft), 42u) << "a refused conversion leaves *out";
  EXPECT_TRUE(FileTimeFromCivil(2000, 2, 29, 0, 0, 0, &ft));
  EXPECT_TRUE(FileTimeFromCivil(30827, 12, 31, 23, 59, 59, &ft));
}

TEST(FileTime, CalendarFieldsIncludeWeekdayAndMilliseconds) {
  SYSTEMTIME st;
  ASSERT_TRUE(CivilFromFileTime(FileTimeFromU64(126284295002500000ULL), &st));
  EXPECT_EQ(st.wYear, 2001);
  EXPECT_EQ(st.wMonth, 3);
  EXPECT_EQ(st.wDay, 7);
  EXPECT_EQ(st.wDayOfWeek, 3);  // Wednesday
  EXPECT_EQ(st.wHour, 9);
  EXPECT_EQ(st.wMinute, 5);
  EXPECT_EQ(st.wSecond, 0);
  EXPECT_EQ(st.wMilliseconds, 250);

  ASSERT_TRUE(CivilFromFileTime(FILETIME{}, &st));
  EXPECT_EQ(st.wYear, 1601);
  EXPECT_EQ(st.wMonth, 1);
  EXPECT_EQ(st.wDay, 1);
  EXPECT_EQ(st.wDayOfWeek, 1);  // Monday
}

TEST(FileTime, LargestValues) {
  SYSTEMTIME st;
  ASSERT_TRUE(CivilFromFileTime(FileTimeFromU64(kFileTimeMax), &st));
  EXPECT_EQ(st.wYear, 30828);
  EXPECT_EQ(st.wMonth, 9);
  EXPECT_EQ(st.wDay, 14);

  SYSTEMTIME untouched;
  untouched.wYear = 7;
  EXPECT_FALSE(
      CivilFromFileTime(FileTimeFromU64(kFileTimeMax + 1), &untouched));
  EXPECT_FALSE(CivilFromFileTime(FileTimeFromU64(~0ULL), &untouched));
  EXPECT_EQ(untouched.wYear, 7);

  FILETIME ft;
  EXPECT_FALSE(FileTimeFromUnix(-11644473601LL, &ft));
  EXPECT_TRUE(FileTimeFromUnix(-11644473600LL, &ft));
  EXPECT_EQ(FileTimeToU64(ft), 0u);
  EXPECT_FALSE(FileTimeFromUnix(INT64_MAX, &ft));
  EXPECT_FALSE(FileTimeFromUnix(INT64_MIN, &ft));
}

TEST(FileTime, RoundTripAcrossCenturiesAndLeapDays) {
  // Every 61 days and 7 hours (and some odd seconds) over four centuries,
  // which passes through 29 February, the century years and year ends.
  const uint64_t step = (61ULL * 86400 + 7 * 3600 + 13) * kFileTimeTicksPerSecond;
  uint64_t v = FileTimeToU64([] {
    FILETIME ft;
    FileTimeFromCivil(1899, 1, 1, 0, 0, 0, &ft);
    return ft;
  }());
  for (int i = 0; i < 2500; ++i, v += step) {
    SYSTEMTIME st;
    ASSERT_TRUE(CivilFromFileTime(FileTimeFromU64(v), &st));
    FILETIME back;
    ASSERT_TRUE(FileTimeFromCivil(st.wYear, st.wMonth, st.wDay, st.wHour,
                                  st.wMinute, st.wSecond, &back));
    ASSERT_EQ(FileTimeToU64(back), v) << st.wYear << "-" << st.wMonth << "-"
                                      << st.wDay;
  }
}

}  // namespace
}  // namespace inet
