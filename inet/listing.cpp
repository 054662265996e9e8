#include "inet/listing.h"

#include <array>
#include <limits>

#include "inet/filetime.h"

namespace inet {
namespace {

constexpr uint64_t kTicksPerDay = 86400ULL * kFileTimeTicksPerSecond;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

// A decimal number of at most 9 digits (so that it fits an int).
bool ParseSmall(std::string_view s, size_t min_digits, size_t max_digits,
                int* out) {
  if (s.size() < min_digits || s.size() > max_digits || s.size() > 9 ||
      !AllDigits(s)) {
    return false;
  }
  int v = 0;
  for (char c : s) v = v * 10 + (c - '0');
  *out = v;
  return true;
}

enum class SizeResult { kOk, kNotNumber, kOverflow };

SizeResult ParseSize(std::string_view s, uint64_t* out) {
  if (!AllDigits(s)) return SizeResult::kNotNumber;
  uint64_t v = 0;
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  for (char c : s) {
    const auto digit = static_cast<uint64_t>(c - '0');
    if (v > (kMax - digit) / 10) return SizeResult::kOverflow;
    v = v * 10 + digit;
  }
  *out = v;
  return SizeResult::kOk;
}

// The line without a trailing CR; false when it is too long to be parsed.
bool PrepareLine(std::string_view* line) {
  if (line->size() > kMaxListingLine + 1) return false;
  if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
  return line->size() <= kMaxListingLine;
}

bool IsAcceptableName(std::string_view name) {
  return !name.empty() && name.find('\0') == std::string_view::npos &&
         name.find('\n') == std::string_view::npos;
}

// ---- MLSD ----

// "YYYYMMDDHHMMSS" with an optional ".fraction" of a second.
bool ParseMlsdTime(std::string_view v, FILETIME* out) {
  if (v.size() < 14) return false;
  int year, month, day, hour, minute, second;
  if (!ParseSmall(v.substr(0, 4), 4, 4, &year) ||
      !ParseSmall(v.substr(4, 2), 2, 2, &month) ||
      !ParseSmall(v.substr(6, 2), 2, 2, &day) ||
      !ParseSmall(v.substr(8, 2), 2, 2, &hour) ||
      !ParseSmall(v.substr(10, 2), 2, 2, &minute) ||
      !ParseSmall(v.substr(12, 2), 2, 2, &second)) {
    return false;
  }
  uint64_t ticks = 0;
  std::string_view rest = v.substr(14);
  if (!rest.empty()) {
    if (rest[0] != '.' || !AllDigits(rest.substr(1))) return false;
    rest.remove_prefix(1);
    // Tenths of a second down to 100 ns; finer digits are dropped.
    uint64_t scale = kFileTimeTicksPerSecond / 10;
    for (size_t i = 0; i < rest.size() && scale > 0; ++i, scale /= 10) {
      ticks += static_cast<uint64_t>(rest[i] - '0') * scale;
    }
  }
  FILETIME ft;
  if (!FileTimeFromCivil(year, month, day, hour, minute, second, &ft)) {
    return false;
  }
  *out = FileTimeFromU64(FileTimeToU64(ft) + ticks);
  return true;
}

// ---- LIST, Unix style ----

struct Token {
  size_t begin;
  size_t end;
};

constexpr std::array<std::string_view, 12> kMonths = {
    "jan", "feb", "mar", "apr", "may", "jun",
    "jul", "aug", "sep", "oct", "nov", "dec"};

int MonthNumber(std::string_view s) {
  if (s.size() != 3) return 0;
  for (size_t i = 0; i < kMonths.size(); ++i) {
    // The first letter rules out most months without a comparison.
    if (LowerAscii(s[0]) == kMonths[i][0] && EqualsIgnoreCase(s, kMonths[i]))
      return static_cast<int>(i) + 1;
  }
  return 0;
}

// The characters a permissions column takes, as a table looked up once per
// character: every line of a listing passes through here.
class CharSet {
 public:
  constexpr explicit CharSet(std::string_view chars) {
    for (char c : chars) in_[static_cast<unsigned char>(c)] = true;
  }
  constexpr bool Has(char c) const { return in_[static_cast<unsigned char>(c)]; }

 private:
  std::array<bool, 256> in_{};
};

constexpr CharSet kFileKinds("-dlcbpsD");
constexpr CharSet kModeChars("-rwxsStTlL");
constexpr CharSet kModeMarks("+.@");

// "drwxr-xr-x", optionally followed by an ACL or security-context mark.
bool IsPermissions(std::string_view s) {
  if (s.size() < 10 || s.size() > 11 || !kFileKinds.Has(s[0])) return false;
  for (size_t i = 1; i < 10; ++i) {
    if (!kModeChars.Has(s[i])) return false;
  }
  return s.size() == 10 || kModeMarks.Has(s[10]);
}

// "H:MM" or "HH:MM".
bool ParseClock(std::string_view s, int* hour, int* minute) {
  const size_t colon = s.find(':');
  if (colon == std::string_view::npos) return false;
  return ParseSmall(s.substr(0, colon), 1, 2, hour) &&
         ParseSmall(s.substr(colon + 1), 2, 2, minute);
}

// The time of a year-less date: this year, or last year when this year's
// date would lie more than a day after now.
FILETIME YearlessTime(int month, int day, int hour, int minute,
                      int64_t now_unix_utc) {
  // A listing asks with the same "now" for every line: the calendar fields
  // of the last one asked for are kept.
  thread_local int64_t cached_unix = 0;
  thread_local FILETIME now{};
  thread_local SYSTEMTIME now_fields{};
  thread_local bool cached = false;
  if (!cached || cached_unix != now_unix_utc) {
    cached = FileTimeFromUnix(now_unix_utc, &now) &&
             CivilFromFileTime(now, &now_fields);
    cached_unix = now_unix_utc;
    if (!cached) return FILETIME{};
  }
  const int year = now_fields.wYear;
  FILETIME ft;
  if (FileTimeFromCivil(year, month, day, hour, minute, 0, &ft) &&
      FileTimeToU64(ft) <= FileTimeToU64(now) + kTicksPerDay) {
    return ft;
  }
  if (FileTimeFromCivil(year - 1, month, day, hour, minute, 0, &ft)) return ft;
  return FILETIME{};
}

std::optional<ListEntry> ParseUnixLine(std::string_view line,
                                       int64_t now_unix_utc) {
  // Only the columns before the name are needed: permissions, link count,
  // owner, group, size (or "major, minor"), month, day, time or year.
  constexpr size_t kMaxTokens = 10;
  std::array<Token, kMaxTokens> tokens;  // the first `count` are set
  size_t count = 0;
  size_t i = 0;
  auto tok = [&](size_t k) {
    return line.substr(tokens[k].begin, tokens[k].end - tokens[k].begin);
  };
  const char kind = line[0];
  const bool device = kind == 'c' || kind == 'b';
  // Columns are cut one at a time, and the date looked for as soon as three
  // more are known, so that the name itself is never scanned.
  while (count < kMaxTokens) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    const size_t begin = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    tokens[count++] = Token{begin, i};
    if (count == 1 && !IsPermissions(tok(0))) return std::nullopt;
    if (count < 6) continue;

    // The date is a month name, a day and a time or year, right after the
    // size: the last three columns cut.
    const size_t k = count - 3;
    const int month = MonthNumber(tok(k));
    int day = 0;
    if (month == 0 || !ParseSmall(tok(k + 1), 1, 2, &day)) continue;
    int hour = 0, minute = 0, year = 0;
    const bool has_clock = ParseClock(tok(k + 2), &hour, &minute);
    if (!has_clock && !ParseSmall(tok(k + 2), 4, 4, &year)) continue;

    uint64_t size = 0;
    const std::string_view size_text = tok(k - 1);
    if (device && size_text.find(',') != std::string_view::npos) {
      // "4,64" in one column.
    } else if (device && k >= 4 && tok(k - 2).size() >= 2 &&
               tok(k - 2).back() == ',' &&
               AllDigits(tok(k - 2).substr(0, tok(k - 2).size() - 1))) {
      // "4, 64" in two columns: a device has no size.
    } else {
      const SizeResult r = ParseSize(size_text, &size);
      if (r == SizeResult::kOverflow) return std::nullopt;
      if (r == SizeResult::kNotNumber) continue;
    }

    // The name starts after exactly one blank following the date: further
    // blanks belong to the name.
    const size_t name_begin = tokens[k + 2].end + 1;
    if (name_begin >= line.size()) return std::nullopt;
    std::string_view name = line.substr(name_begin);
    if (kind == 'l') {
      const size_t arrow = name.find(" -> ");
      if (arrow != std::string_view::npos) name = name.substr(0, arrow);
    }
    if (!IsAcceptableName(name)) return std::nullopt;

    ListEntry entry;
    entry.name = std::string(name);
    entry.is_directory = kind == 'd';
    entry.size = size;
    if (has_clock) {
      entry.mtime = YearlessTime(month, day, hour, minute, now_unix_utc);
    } else if (!FileTimeFromCivil(year, month, day, 0, 0, 0, &entry.mtime)) {
      entry.mtime = FILETIME{};
    }
    return entry;
  }
  return std::nullopt;
}

// ---- LIST, DOS style ----

// "MM-DD-YY", "MM-DD-YYYY" (or with "/").
bool ParseDosDate(std::string_view s, int* year, int* month, int* day) {
  const size_t a = s.find_first_of("-/");
  if (a == std::string_view::npos) return false;
  const size_t b = s.find(s[a], a + 1);
  if (b == std::string_view::npos) return false;
  if (!ParseSmall(s.substr(0, a), 1, 2, month) ||
      !ParseSmall(s.substr(a + 1, b - a - 1), 1, 2, day)) {
    return false;
  }
  const std::string_view y = s.substr(b + 1);
  if (y.size() == 2 && ParseSmall(y, 2, 2, year)) {
    *year += *year < 70 ? 2000 : 1900;
    return true;
  }
  return ParseSmall(y, 4, 4, year);
}

std::optional<ListEntry> ParseDosLine(std::string_view line) {
  size_t i = 0;
  auto next_token = [&]() -> std::optional<std::string_view> {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) return std::nullopt;
    const size_t begin = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    return line.substr(begin, i - begin);
  };
  int year = 0, month = 0, day = 0;
  const auto date = next_token();
  if (!date || !ParseDosDate(*date, &year, &month, &day)) return std::nullopt;

  auto time = next_token();
  if (!time) return std::nullopt;
  // "09:05AM", "09:05 PM" or "21:05".
  int half = 0;  // 0: 24-hour clock, 1: AM, 2: PM
  std::string_view clock = *time;
  auto half_of = [](std::string_view s) {
    if (EqualsIgnoreCase(s, "AM")) return 1;
    if (EqualsIgnoreCase(s, "PM")) return 2;
    return 0;
  };
  if (clock.size() > 2 && (half = half_of(clock.substr(clock.size() - 2)))) {
    clock.remove_suffix(2);
  }
  int hour = 0, minute = 0;
  if (!ParseClock(clock, &hour, &minute)) return std::nullopt;

  auto third = next_token();
  if (!third) return std::nullopt;
  if (half == 0 && half_of(*third) != 0) {
    half = half_of(*third);
    third = next_token();
    if (!third) return std::nullopt;
  }

  ListEntry entry;
  if (EqualsIgnoreCase(*third, "<DIR>")) {
    entry.is_directory = true;
  } else {
    const SizeResult r = ParseSize(*third, &entry.size);
    if (r != SizeResult::kOk) return std::nullopt;
  }
  // The columns are padded for alignment, so the name starts at the first
  // character that is not a blank.
  while (i < line.size() && IsBlank(line[i])) ++i;
  const std::string_view name = line.substr(i);
  if (!IsAcceptableName(name)) return std::nullopt;
  entry.name = std::string(name);

  bool valid_clock = true;
  if (half != 0) {
    // 12 AM is midnight, 12 PM noon.
    valid_clock = hour >= 1 && hour <= 12;
    hour = hour % 12 + (half == 2 ? 12 : 0);
  }
  if (!valid_clock ||
      !FileTimeFromCivil(year, month, day, hour, minute, 0, &entry.mtime)) {
    entry.mtime = FILETIME{};
  }
  return entry;
}

}  // namespace

std::optional<ListEntry> ParseMlsdLine(std::string_view line) {
  if (!PrepareLine(&line)) return std::nullopt;
  const size_t space = line.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  const std::string_view name = line.substr(space + 1);
  if (!IsAcceptableName(name)) return std::nullopt;

  ListEntry entry;
  entry.name = std::string(name);
  std::optional<uint64_t> size;
  std::optional<uint64_t> sizd;
  std::string_view facts = line.substr(0, space);
  while (!facts.empty()) {
    const size_t semi = facts.find(';');
    const std::string_view fact = facts.substr(0, semi);
    facts = semi == std::string_view::npos ? std::string_view()
                                           : facts.substr(semi + 1);
    if (fact.empty()) continue;
    const size_t eq = fact.find('=');
    if (eq == std::string_view::npos || eq == 0) return std::nullopt;
    const std::string_view key = fact.substr(0, eq);
    const std::string_view value = fact.substr(eq + 1);
    if (EqualsIgnoreCase(key, "type")) {
      if (EqualsIgnoreCase(value, "cdir") || EqualsIgnoreCase(value, "pdir")) {
        return std::nullopt;
      }
      // Links ("OS.unix=slink:...") and other kinds count as files.
      entry.is_directory = EqualsIgnoreCase(value, "dir");
    } else if (EqualsIgnoreCase(key, "size") ||
               EqualsIgnoreCase(key, "sizd")) {
      uint64_t v = 0;
      if (ParseSize(value, &v) != SizeResult::kOk) return std::nullopt;
      (EqualsIgnoreCase(key, "size") ? size : sizd) = v;
    } else if (EqualsIgnoreCase(key, "modify")) {
      if (!ParseMlsdTime(value, &entry.mtime)) entry.mtime = FILETIME{};
    }
  }
  entry.size = size ? *size : sizd.value_or(0);
  return entry;
}

std::optional<ListEntry> ParseListLine(std::string_view line,
                                       int64_t now_unix_utc) {
  if (!PrepareLine(&line)) return std::nullopt;
  if (line.empty()) return std::nullopt;
  if (auto entry = ParseUnixLine(line, now_unix_utc)) return entry;
  return ParseDosLine(line);
}

}  // namespace inet
