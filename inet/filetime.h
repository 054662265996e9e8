// Conversions between FILETIME (100-nanosecond intervals since 1 January 1601,
// no time zone attached) and calendar fields, in the proleptic Gregorian
// calendar. Used by the listing parsers and by FileTimeToSystemTime.
#ifndef ZORVEX_INET_FILETIME_H_
#define ZORVEX_INET_FILETIME_H_

#include <cstdint>

#include "inet/service.h"

namespace inet {

// FILETIME of 1970-01-01 00:00:00.
constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;
constexpr uint64_t kFileTimeTicksPerSecond = 10000000ULL;
// The largest FILETIME that converts to calendar fields.
constexpr uint64_t kFileTimeMax = 0x7FFFFFFFFFFFFFFFULL;

constexpr uint64_t FileTimeToU64(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
constexpr FILETIME FileTimeFromU64(uint64_t v) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(v & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
  return ft;
}
constexpr bool FileTimeIsZero(const FILETIME& ft) {
  return ft.dwLowDateTime == 0 && ft.dwHighDateTime == 0;
}

// True for a valid Gregorian date (years 1601 to 30827).
bool IsValidCivilDate(int year, int month, int day);

// The FILETIME of a calendar date and time to the second. False (and *out
// untouched) when a field is out of range: years 1601..30827, months 1..12,
// days that exist in that month, hours 0..23, minutes and seconds 0..59.
bool FileTimeFromCivil(int year, int month, int day, int hour, int minute,
                       int second, FILETIME* out);

// Calendar fields of a FILETIME, with wDayOfWeek (0 = Sunday) and
// wMilliseconds. False (and *out untouched) when ft exceeds kFileTimeMax.
bool CivilFromFileTime(const FILETIME& ft, SYSTEMTIME* out);

// The FILETIME of a count of seconds since 1970-01-01 00:00:00; false when it
// lies before 1601 or beyond kFileTimeMax.
bool FileTimeFromUnix(int64_t unix_seconds, FILETIME* out);

}  // namespace inet

#endif  // ZORVEX_INET_FILETIME_H_
