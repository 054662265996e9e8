#include "inet/filetime.h"

#include "inet/calendar.h"

namespace inet {
namespace {

constexpr uint64_t kTicksPerDay = 86400ULL * kFileTimeTicksPerSecond;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kDays1601To1970 = 134774;

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
  const CivilDate date = CivilFromDays(days - kDays1601To1970);
  SYSTEMTIME st;
  st.wYear = static_cast<WORD>(date.year);
  st.wMonth = static_cast<WORD>(date.month);
  st.wDay = static_cast<WORD>(date.day);
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
