#include "inet/filetime.h"

namespace inet {
namespace {

constexpr uint64_t kTicksPerDay = 86400ULL * kFileTimeTicksPerSecond;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kDays1601To1970 = 134774;

constexpr bool IsLeap(int64_t y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

constexpr int DaysInMonth(int64_t year, int month) {
  constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a Gregorian date (valid for all years >= 0).
constexpr int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = y / 400;  // y >= 0 here
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// The inverse of DaysFromCivil for days >= -719468 (year 0 onwards).
constexpr void CivilFromDays(int64_t z, int64_t* y, int* m, int* d) {
  z += 719468;
  const int64_t era = z / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = yoe + era * 400 + (*m <= 2);
}

static_assert(DaysFromCivil(1601, 1, 1) == -kDays1601To1970);
static_assert(DaysFromCivil(1970, 1, 1) == 0);

}  // namespace

bool IsValidCivilDate(int year, int month, int day) {
  return year >= 1601 && year <= 30827 && month >= 1 && month <= 12 &&
         day >= 1 && day <= DaysInMonth(year, month);
}

bool FileTimeFromCivil(int year, int month, int day, int hour, int minute,
                       int second, FILETIME* out) {
  if (!IsValidCivilDate(year, month, day) || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 59) {
    return false;
  }
  const int64_t days = DaysFromCivil(year, month, day) + kDays1601To1970;
  const uint64_t seconds = static_cast<uint64_t>(days) * 86400ULL +
                           static_cast<uint64_t>(hour) * 3600ULL +
                           static_cast<uint64_t>(minute) * 60ULL +
                           static_cast<uint64_t>(second);
  *out = FileTimeFromU64(seconds * kFileTimeTicksPerSecond);
  return true;
}

bool CivilFromFileTime(const FILETIME& ft, SYSTEMTIME* out) {
  const uint64_t v = FileTimeToU64(ft);
  if (v > kFileTimeMax) return false;
  const int64_t days = static_cast<int64_t>(v / kTicksPerDay);
  uint64_t rest = v % kTicksPerDay;
  int64_t year = 0;
  int month = 0;
  int day = 0;
  CivilFromDays(days - kDays1601To1970, &year, &month, &day);
  SYSTEMTIME st;
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  st.wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01: Monday
  const uint64_t ticks_per_hour = 3600ULL * kFileTimeTicksPerSecond;
  st.wHour = static_cast<WORD>(rest / ticks_per_hour);
  rest %= ticks_per_hour;
  st.wMinute = static_cast<WORD>(rest / (60ULL * kFileTimeTicksPerSecond));
  rest %= 60ULL * kFileTimeTicksPerSecond;
  st.wSecond = static_cast<WORD>(rest / kFileTimeTicksPerSecond);
  rest %= kFileTimeTicksPerSecond;
  st.wMilliseconds = static_cast<WORD>(rest / 10000ULL);
  *out = st;
  return true;
}

bool FileTimeFromUnix(int64_t unix_seconds, FILETIME* out) {
  constexpr int64_t kEpochSeconds =
      static_cast<int64_t>(kFileTimeUnixEpoch / kFileTimeTicksPerSecond);
  constexpr int64_t kMaxSeconds =
      static_cast<int64_t>(kFileTimeMax / kFileTimeTicksPerSecond);
  if (unix_seconds < -kEpochSeconds || unix_seconds > kMaxSeconds - kEpochSeconds) {
    return false;
  }
  const uint64_t seconds = static_cast<uint64_t>(unix_seconds + kEpochSeconds);
  *out = FileTimeFromU64(seconds * kFileTimeTicksPerSecond);
  return true;
}

}  // namespace inet
