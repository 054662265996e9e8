#include "platform/windows/win_text.h"

#include <windows.h>

namespace platform {

bool AnsiToWide(std::string_view ansi, std::wstring* out) {
  out->clear();
  if (ansi.empty()) return true;
  if (ansi.find('\0') != std::string_view::npos) return false;
  if (ansi.size() > 0x7FFFFFFF) return false;
  const int size = static_cast<int>(ansi.size());
  const int n = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(),
                                      size, nullptr, 0);
  if (n <= 0) return false;
  out->resize(static_cast<size_t>(n));
  return ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), size,
                               out->data(), n) == n;
}

std::string WideToUtf8(std::wstring_view wide) {
  if (wide.empty() || wide.size() > 0x7FFFFFFF) return std::string();
  const int size = static_cast<int>(wide.size());
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0,
                                      nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, out.data(), n, nullptr,
                        nullptr);
  return out;
}

std::wstring Utf8ToWide(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > 0x7FFFFFFF) return std::wstring();
  const int size = static_cast<int>(utf8.size());
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), n);
  return out;
}

std::wstring_view CommandLineTail(std::wstring_view line) {
  size_t i = 0;
  if (!line.empty() && line[0] == L'"') {
    const size_t close = line.find(L'"', 1);
    i = close == std::wstring_view::npos ? line.size() : close + 1;
  } else {
    while (i < line.size() && line[i] != L' ' && line[i] != L'\t') ++i;
  }
  while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
  return line.substr(i);
}

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Reads one argument of `tail` from `*i` (at its first character) into
// *out (when not null), leaving *i after it.
void ReadArgument(std::wstring_view tail, size_t* i, std::wstring* out) {
  bool quoted = false;
  size_t at = *i;
  while (at < tail.size() && (quoted || !IsBlank(tail[at]))) {
    if (tail[at] == L'\\') {
      size_t slashes = 0;
      while (at < tail.size() && tail[at] == L'\\') ++slashes, ++at;
      if (at < tail.size() && tail[at] == L'"') {
        if (out) out->append(slashes / 2, L'\\');
        if (slashes % 2 == 1) {
          if (out) out->push_back(L'"');
          ++at;
        }
      } else if (out) {
        out->append(slashes, L'\\');
      }
      continue;
    }
    if (tail[at] == L'"') {
      if (quoted && at + 1 < tail.size() && tail[at + 1] == L'"') {
        if (out) out->push_back(L'"');
        at += 2;
        continue;
      }
      quoted = !quoted;
      ++at;
      continue;
    }
    if (out) out->push_back(tail[at]);
    ++at;
  }
  *i = at;
}

size_t SkipBlanks(std::wstring_view tail, size_t i) {
  while (i < tail.size() && IsBlank(tail[i])) ++i;
  return i;
}

}  // namespace

std::vector<std::wstring> SplitArguments(std::wstring_view tail) {
  std::vector<std::wstring> arguments;
  for (size_t i = SkipBlanks(tail, 0); i < tail.size(); i = SkipBlanks(tail, i)) {
    std::wstring argument;
    ReadArgument(tail, &i, &argument);
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

std::wstring_view SkipArguments(std::wstring_view tail, size_t count) {
  size_t i = SkipBlanks(tail, 0);
  for (size_t n = 0; n < count && i < tail.size(); ++n) {
    ReadArgument(tail, &i, nullptr);
    i = SkipBlanks(tail, i);
  }
  return count == 0 ? tail : tail.substr(i);
}

}  // namespace platform
