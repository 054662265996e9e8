// The locale on Windows: the system's ANSI code page (GetACP), whatever the
// C runtime's locale, and the user's interface language.
#include "platform/locale.h"

#include <cstdint>

#include <windows.h>

namespace platform {
namespace {

bool IsUtf8CodePage() { return ::GetACP() == CP_UTF8; }

// The length of the valid UTF-8 sequence at `p` (at most `left` bytes), 0
// when the bytes there are not one (overlong forms and surrogates included).
size_t Utf8SequenceLength(const unsigned char* p, size_t left) {
  const unsigned char c = p[0];
  if (c < 0x80) return 1;
  size_t n;
  uint32_t cp;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (left < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
      (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
    return 0;
  return n;
}

// Appends valid UTF-8 text in the ANSI code page; a character the code page
// cannot hold becomes "?" (never a look-alike, which could turn a full-width
// solidus into a path separator).
void AppendAnsi(std::string_view utf8, std::string* out) {
  if (utf8.empty()) return;
  const int size = static_cast<int>(utf8.size());
  const int wn =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (wn <= 0) return;
  std::wstring wide(static_cast<size_t>(wn), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), wn);
  const int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                      wn, nullptr, 0, "?", nullptr);
  if (n <= 0) return;
  const size_t at = out->size();
  out->resize(at + static_cast<size_t>(n));
  ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wn,
                        out->data() + at, n, "?", nullptr);
}

// Appends one character of the ANSI code page as UTF-8; false when the
// bytes are not a character there.
bool AppendUtf8(const char* ansi, int size, std::string* out) {
  wchar_t wide[4];
  const int wn =
      ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi, size, wide, 4);
  if (wn <= 0) return false;
  char utf8[16];
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, wn, utf8, sizeof utf8,
                                      nullptr, nullptr);
  if (n <= 0) return false;
  out->append(utf8, static_cast<size_t>(n));
  return true;
}

}  // namespace

std::string AnsiCodeset() {
  const UINT cp = ::GetACP();
  if (cp == CP_UTF8) return "UTF-8";
  return "CP" + std::to_string(cp);
}

bool AnsiIsUtf8() { return IsUtf8CodePage(); }

std::string ToAnsi(std::string_view utf8) {
  if (IsUtf8CodePage() || utf8.size() > 0x7FFFFFFF) return std::string(utf8);
  std::string out;
  out.reserve(utf8.size());
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  size_t run = 0;  // start of the current run of valid UTF-8
  size_t i = 0;
  while (i < utf8.size()) {
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    const size_t n = Utf8SequenceLength(p + i, utf8.size() - i);
    if (n > 0) {
      i += n;
      continue;
    }
    // An invalid byte passes through unchanged.
    AppendAnsi(utf8.substr(run, i - run), &out);
    out.push_back(utf8[i]);
    run = ++i;
  }
  AppendAnsi(utf8.substr(run), &out);
  return out;
}

std::string FromAnsi(std::string_view ansi) {
  if (IsUtf8CodePage() || ansi.size() > 0x7FFFFFFF) return std::string(ansi);
  // The whole text at once when it is valid in the code page.
  const int size = static_cast<int>(ansi.size());
  const int wn = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS,
                                       ansi.data(), size, nullptr, 0);
  if (wn > 0 || ansi.empty()) {
    std::wstring wide(static_cast<size_t>(wn), L'\0');
    ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), size,
                          wide.data(), wn);
    std::string out;
    if (wn > 0) {
      const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wn, nullptr,
                                          0, nullptr, nullptr);
      out.resize(static_cast<size_t>(n));
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wn, out.data(), n, nullptr,
                            nullptr);
    }
    return out;
  }
  // Character by character: a lead byte takes its trail byte along; what the
  // code page does not define becomes U+FFFD, one byte at a time.
  const UINT cp = ::GetACP();
  std::string out;
  out.reserve(ansi.size() + 8);
  size_t i = 0;
  while (i < ansi.size()) {
    const bool lead = ::IsDBCSLeadByteEx(cp, static_cast<BYTE>(ansi[i])) &&
                      i + 1 < ansi.size();
    if (lead && AppendUtf8(ansi.data() + i, 2, &out)) {
      i += 2;
    } else if (!lead && AppendUtf8(ansi.data() + i, 1, &out)) {
      i += 1;
    } else {
      out.append("\xEF\xBF\xBD");
      i += 1;
    }
  }
  return out;
}

bool UserLanguageIsJapanese() {
  return PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_JAPANESE;
}

bool LocalTextUsesCrlf() { return true; }

}  // namespace platform
