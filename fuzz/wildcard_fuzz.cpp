// Matches arbitrary patterns against arbitrary names and compares the result
// with a plain dynamic-programming matcher over the same characters.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "inet/wildcard.h"

namespace {

// The same character rule as the matcher: a well-formed UTF-8 sequence, or
// else one byte.
std::vector<std::string_view> Characters(std::string_view s) {
  std::vector<std::string_view> out;
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t len = c >= 0xC2 && c <= 0xDF   ? 2
                 : c >= 0xE0 && c <= 0xEF ? 3
                 : c >= 0xF0 && c <= 0xF4 ? 4
                                          : 1;
    if (s.size() - i < len) len = 1;
    for (size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
        len = 1;
        break;
      }
    }
    out.push_back(s.substr(i, len));
    i += len;
  }
  return out;
}

bool Reference(std::string_view pattern, std::string_view name) {
  const auto p = Characters(pattern);
  const auto n = Characters(name);
  std::vector<bool> row(n.size() + 1, false);
  row[0] = true;
  for (std::string_view pc : p) {
    std::vector<bool> next(n.size() + 1, false);
    if (pc == "*") {
      bool any = false;
      for (size_t j = 0; j <= n.size(); ++j) next[j] = any = any || row[j];
    } else {
      for (size_t j = 0; j < n.size(); ++j) {
        next[j + 1] = row[j] && (pc == "?" || pc == n[j]);
      }
    }
    row = std::move(next);
  }
  return row[n.size()];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The input is "pattern NUL name".
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const std::string_view pattern = input.substr(0, nul);
  const std::string_view name =
      nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

  const bool matched = inet::MatchWildcard(pattern, name);
  Check(inet::MatchWildcard("*", name));
  if (!inet::HasWildcard(name)) Check(inet::MatchWildcard(name, name));
  if (!inet::HasWildcard(pattern)) Check(matched == (pattern == name));
  // The reference is quadratic in memory traffic: keep it to small inputs.
  if (pattern.size() <= 64 && name.size() <= 256) {
    Check(matched == Reference(pattern, name));
  }
  return 0;
}
