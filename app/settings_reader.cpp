#include "app/settings_reader.h"

#include <charconv>
#include <cmath>
#include <system_error>

#include "app/run_error.h"
#include "platform/locale.h"

namespace zorvex {
namespace {

constexpr int kEof = std::char_traits<char>::eof();

bool IsBlank(int c) { return c == ' ' || c == '\t'; }

void Keep(std::string& value, int c) {
  if (value.size() < SettingsReader::kMaxFieldBytes) {
    value.push_back(static_cast<char>(c));
  }
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

int32_t ParseRadix(std::string_view digits, int radix) {
  if (digits.empty()) throw RunError(kErrTypeMismatch);
  uint64_t value = 0;
  for (char ch : digits) {
    int d;
    if (ch >= '0' && ch <= '9') d = ch - '0';
    else if (ch >= 'a' && ch <= 'f') d = ch - 'a' + 10;
    else if (ch >= 'A' && ch <= 'F') d = ch - 'A' + 10;
    else d = radix;
    if (d >= radix) throw RunError(kErrTypeMismatch);
    value = value * static_cast<uint64_t>(radix) + static_cast<uint64_t>(d);
    if (value > 0xFFFFFFFFu) throw RunError(kErrOverflow);
  }
  // A full 32-bit pattern reads as its two's complement value (&HFFFFFFFF = -1).
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

// True when s is a decimal number: [+|-] digits [. digits] [E|D [+|-] digits],
// with at least one digit before the exponent.
bool IsDecimal(std::string_view s) {
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t exp_digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  return i == s.size();
}

}  // namespace

int32_t ParseLong(std::string_view text) {
  const std::string_view s = TrimBlanks(text);
  if (s.empty()) return 0;
  if (s.size() > 2 && s[0] == '&') {
    if (s[1] == 'H' || s[1] == 'h') return ParseRadix(s.substr(2), 16);
    if (s[1] == 'O' || s[1] == 'o') return ParseRadix(s.substr(2), 8);
  }
  if (!IsDecimal(s)) throw RunError(kErrTypeMismatch);
  std::string copy(s.front() == '+' ? s.substr(1) : s);
  for (char& ch : copy) {
    if (ch == 'd' || ch == 'D') ch = 'E';
  }
  // from_chars ignores the locale: the field's "." is always the point.
  double value = 0;
  const auto [end, ec] =
      std::from_chars(copy.data(), copy.data() + copy.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Too large overflows; too small (1E-400) is as good as 0.
    const size_t e = copy.find('E');
    if (e != std::string::npos && copy[e + 1] == '-') return 0;
    throw RunError(kErrOverflow);
  }
  if (ec != std::errc() || end != copy.data() + copy.size()) {
    throw RunError(kErrTypeMismatch);
  }
  const double rounded = std::nearbyint(value);  // ties to even
  if (!std::isfinite(rounded) || rounded > 2147483647.0 ||
      rounded < -2147483648.0) {
    throw RunError(kErrOverflow);
  }
  return static_cast<int32_t>(rounded);
}
int SettingsReader::Peek() {
  const int c = in_.peek();
  if (c == kEof && in_.bad()) throw RunError(kErrDeviceIO);
  return c;
}

int SettingsReader::Get() {
  const int c = in_.get();
  if (c == kEof && in_.bad()) throw RunError(kErrDeviceIO);
  return c;
}

bool SettingsReader::AtEnd() { return Peek() == kEof; }

std::string SettingsReader::InputField(bool* quoted) {
  if (AtEnd() && !after_comma_) throw RunError(kErrInputPastEnd);
  int c;
  while (IsBlank(c = Peek())) Get();
  std::string value;
  *quoted = c == '"';
  if (*quoted) {
    Get();
    while ((c = Get()) != kEof && c != '"') Keep(value, c);
  }
  // Up to and including the separator; in a quoted field what stands between
  // the closing quote and the separator is dropped.
  after_comma_ = false;
  while ((c = Get()) != kEof) {
    if (c == ',') {
      after_comma_ = true;
      break;
    }
    if (c == '\n') break;
    if (c == '\r') {
      if (Peek() == '\n') Get();
      break;
    }
    if (!*quoted) Keep(value, c);
  }
  if (!*quoted) {
    while (!value.empty() && IsBlank(value.back())) value.pop_back();
  }
  return value;
}

std::string SettingsReader::InputString() {
  bool quoted;
  return platform::FromAnsi(InputField(&quoted));
}

int32_t SettingsReader::InputLong() {
  bool quoted;
  return ParseLong(InputField(&quoted));
}

}  // namespace zorvex
