#include "app/text_functions.h"

#include "app/run_error.h"

namespace zorvex {
namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Byte offset of character position `pos` (1-based); s.size() when past the end.
size_t OffsetOf(std::string_view s, int64_t pos) {
  size_t i = 0;
  for (int64_t n = 1; n < pos && i < s.size(); ++n) i += CharLength(s, i);
  return i;
}

}  // namespace

size_t CharLength(std::string_view s, size_t i) {
  const auto c0 = static_cast<unsigned char>(s[i]);
  size_t need;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c0 < 0x80) return 1;
  if (c0 >= 0xC2 && c0 <= 0xDF) {
    need = 2;
  } else if (c0 >= 0xE0 && c0 <= 0xEF) {
    need = 3;
    if (c0 == 0xE0) lo = 0xA0;  // no overlong forms
    if (c0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (c0 >= 0xF0 && c0 <= 0xF4) {
    need = 4;
    if (c0 == 0xF0) lo = 0x90;
    if (c0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return 1;
  }
  if (i + need > s.size()) return 1;
  const auto c1 = static_cast<unsigned char>(s[i + 1]);
  if (c1 < lo || c1 > hi) return 1;
  for (size_t k = 2; k < need; ++k) {
    if (!IsContinuation(static_cast<unsigned char>(s[i + k]))) return 1;
  }
  return need;
}

int64_t Len(std::string_view s) {
  int64_t n = 0;
  for (size_t i = 0; i < s.size(); i += CharLength(s, i)) ++n;
  return n;
}

int64_t InStr(std::string_view s, std::string_view what) {
  // Only whole characters match: an ASCII `what` never lies inside a
  // multi-byte character, and a match must start on a character boundary.
  int64_t pos = 1;
  for (size_t i = 0; i < s.size(); i += CharLength(s, i), ++pos) {
    if (s.substr(i, what.size()) == what) return pos;
  }
  return 0;
}

int64_t InStrRev(std::string_view s, std::string_view what) {
  int64_t found = 0;
  int64_t pos = 1;
  for (size_t i = 0; i < s.size(); i += CharLength(s, i), ++pos) {
    if (s.substr(i, what.size()) == what) found = pos;
  }
  return found;
}

std::string Mid(std::string_view s, int64_t start, int64_t length) {
  if (start < 1 || length < 0) throw RunError(kErrInvalidCall);
  const size_t begin = OffsetOf(s, start);
  size_t end = begin;
  for (int64_t n = 0; n < length && end < s.size(); ++n) {
    end += CharLength(s, end);
  }
  return std::string(s.substr(begin, end - begin));
}

std::string Mid(std::string_view s, int64_t start) {
  if (start < 1) throw RunError(kErrInvalidCall);
  return std::string(s.substr(OffsetOf(s, start)));
}

std::string Left(std::string_view s, int64_t length) {
  if (length < 0) throw RunError(kErrInvalidCall);
  return Mid(s, 1, length);
}

std::string Trim(std::string_view s) {
  const size_t first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::string();
  const size_t last = s.find_last_not_of(' ');
  return std::string(s.substr(first, last - first + 1));
}

}  // namespace zorvex
