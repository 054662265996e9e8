#include "inet/wildcard.h"

#include <cstddef>

namespace inet {
namespace {

// Length in bytes of the UTF-8 character at s[i] (i < s.size()); 1 for a byte
// that does not start a complete, well-formed sequence.
size_t CharLength(std::string_view s, size_t i) {
  const auto lead = static_cast<unsigned char>(s[i]);
  size_t len = 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4;
  } else {
    return 1;
  }
  if (s.size() - i < len) return 1;
  for (size_t k = 1; k < len; ++k) {
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 1;
  }
  return len;
}

}  // namespace

bool MatchWildcard(std::string_view pattern, std::string_view name) {
  // Both texts are read character by character (see CharLength), so a
  // literal never matches part of a character.
  // Greedy matching with one resume point: the last "*" seen and the place in
  // name where its current attempt started. A later "*" supersedes an earlier
  // one, so no attempt is ever revisited.
  size_t p = 0;
  size_t n = 0;
  size_t star = std::string_view::npos;
  size_t resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = ++p;
      resume = n;
      continue;
    }
    if (p < pattern.size() && pattern[p] == '?') {
      ++p;
      n += CharLength(name, n);
      continue;
    }
    if (p < pattern.size()) {
      const size_t plen = CharLength(pattern, p);
      if (plen == CharLength(name, n) &&
          pattern.substr(p, plen) == name.substr(n, plen)) {
        p += plen;
        n += plen;
        continue;
      }
    }
    if (star == std::string_view::npos) return false;
    // Let the "*" take one more character and try again from there.
    resume += CharLength(name, resume);
    p = star;
    n = resume;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool HasWildcard(std::string_view text) {
  return text.find_first_of("*?") != std::string_view::npos;
}

}  // namespace inet
