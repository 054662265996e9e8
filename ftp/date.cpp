#include "ftp/date.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "inet/calendar.h"

namespace zorvex {
namespace {

using inet::CivilDate;
using inet::CivilFromDays;
using inet::DaysFromCivil;
using inet::DaysInMonth;

constexpr int64_t kSecondsPerDay = 86400;

// The automation date's day 0, 30 December 1899, in days from 1970-01-01.
constexpr int64_t kEpochDays = DaysFromCivil(1899, 12, 30);

// The range of FromFields: 1 January 100 to 31 December 9999.
constexpr int64_t kMinDay = DaysFromCivil(100, 1, 1) - kEpochDays;
constexpr int64_t kMaxDay = DaysFromCivil(9999, 12, 31) - kEpochDays;

// A date split into its day number (relative to day 0) and the second of that
// day, rounded to the nearest second. Values outside the supported range (and
// NaN) are clamped to it, so the getters never fail.
struct Split {
  int64_t day;
  int64_t second;
};

Split SplitValue(double value) {
  if (std::isnan(value)) return Split{0, 0};
  if (value < static_cast<double>(kMinDay)) return Split{kMinDay, 0};
  if (value >= static_cast<double>(kMaxDay + 1))
    return Split{kMaxDay, kSecondsPerDay - 1};
  // The whole part is the day; the fraction, taken without its sign, is the
  // time of that day (before day 0, -1.25 is 29 December 1899, 06:00).
  const double whole = std::trunc(value);
  const double fraction = std::fabs(value - whole);
  int64_t day = static_cast<int64_t>(whole);
  int64_t second = std::llround(fraction * static_cast<double>(kSecondsPerDay));
  if (second >= kSecondsPerDay) {
    // 23:59:59.6 and later is the start of the next calendar day, which on
    // either side of day 0 is one day later.
    second -= kSecondsPerDay;
    // For negative values the whole part counts towards zero, so the day in
    // (-1, 0) is day 0 as well; moving on a day is still day + 1.
    ++day;
  }
  if (day > kMaxDay) return Split{kMaxDay, kSecondsPerDay - 1};
  return Split{day, second};
}

// Reads an unsigned decimal number of at most 9 digits at text[pos].
bool ReadNumber(std::string_view text, size_t& pos, int& out) {
  const size_t start = pos;
  int64_t value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    if (pos - start >= 9) return false;
    value = value * 10 + (text[pos] - '0');
    ++pos;
  }
  if (pos == start) return false;
  out = static_cast<int>(value);
  return true;
}

bool Expect(std::string_view text, size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

}  // namespace

std::optional<Date> Date::FromFields(int year, int month, int day, int hour,
                                     int minute, int second) {
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 59) {
    return std::nullopt;
  }
  const int64_t days = DaysFromCivil(year, month, day) - kEpochDays;
  const double time =
      static_cast<double>(hour * 3600 + minute * 60 + second) /
      static_cast<double>(kSecondsPerDay);
  // Before day 0 the time of day is counted away from zero.
  const double value = days < 0 ? static_cast<double>(days) - time
                                 : static_cast<double>(days) + time;
  return Date(value);
}

std::optional<Date> Date::Parse(std::string_view text) {
  int f[6] = {};
  size_t pos = 0;
  static constexpr char kSeparators[] = {'/', '/', ' ', ':', ':'};
  for (int i = 0; i < 6; ++i) {
    if (!ReadNumber(text, pos, f[i])) return std::nullopt;
    if (i < 5 && !Expect(text, pos, kSeparators[i])) return std::nullopt;
  }
  if (pos != text.size()) return std::nullopt;
  return FromFields(f[0], f[1], f[2], f[3], f[4], f[5]);
}

int Date::Year() const {
  return static_cast<int>(CivilFromDays(SplitValue(value_).day + kEpochDays).year);
}

int Date::Month() const {
  return CivilFromDays(SplitValue(value_).day + kEpochDays).month;
}

int Date::Day() const {
  return CivilFromDays(SplitValue(value_).day + kEpochDays).day;
}

int Date::Hour() const {
  return static_cast<int>(SplitValue(value_).second / 3600);
}

int Date::Minute() const {
  return static_cast<int>(SplitValue(value_).second / 60 % 60);
}

int Date::Second() const {
  return static_cast<int>(SplitValue(value_).second % 60);
}

std::string Date::ToString() const {
  const Split s = SplitValue(value_);
  const CivilDate c = CivilFromDays(s.day + kEpochDays);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d",
                static_cast<int>(c.year), c.month, c.day,
                static_cast<int>(s.second / 3600),
                static_cast<int>(s.second / 60 % 60),
                static_cast<int>(s.second % 60));
  return buf;
}

}  // namespace zorvex
