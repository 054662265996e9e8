// The locale on POSIX systems: iconv between UTF-8 and the character set of
// the current locale, and the language from the locale or the environment.
#include "platform/locale.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

namespace platform {
namespace {

// AnsiIsUtf8 without building the codeset's name: names of a listing's
// entries pass through here one by one.
bool LocaleIsUtf8() {
  const char* cs = nl_langinfo(CODESET);
  if (cs == nullptr || *cs == '\0') return true;
  // The answer for the codeset asked about last, checked with one
  // comparison: the locale may change between calls, but seldom does.
  thread_local std::string last_codeset;
  thread_local bool last_answer = true;
  if (last_codeset == cs) return last_answer;
  last_answer = false;
  for (const char* utf8 : {"UTF-8", "utf8", "UTF8", "ANSI_X3.4-1968", "ASCII"})
    if (std::strcmp(cs, utf8) == 0) last_answer = true;
  last_codeset = cs;
  return last_answer;
}

// Converts with iconv; on a sequence that cannot be converted, writes
// `replacement` and skips one input byte.
std::string Convert(std::string_view in, const char* to, const char* from,
                    std::string_view replacement) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  std::string out;
  out.reserve(in.size() + 8);
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char buf[1024];
  while (src_left > 0) {
    char* dst = buf;
    size_t dst_left = sizeof buf;
    size_t rc = iconv(cd, &src, &src_left, &dst, &dst_left);
    out.append(buf, static_cast<size_t>(dst - buf));
    if (rc == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (a truncated sequence at the end).
      out.append(replacement);
      ++src;
      --src_left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  char* dst = buf;
  size_t dst_left = sizeof buf;
  iconv(cd, nullptr, nullptr, &dst, &dst_left);
  out.append(buf, static_cast<size_t>(dst - buf));
  iconv_close(cd);
  return out;
}

}  // namespace

std::string AnsiCodeset() {
  const char* cs = nl_langinfo(CODESET);
  std::string codeset = cs ? cs : "";
  // The C/POSIX locale reports ASCII; the program treats it as UTF-8.
  if (codeset.empty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII")
    return "UTF-8";
  return codeset;
}

bool AnsiIsUtf8() { return LocaleIsUtf8(); }

std::string ToAnsi(std::string_view utf8) {
  if (LocaleIsUtf8()) return std::string(utf8);
  return Convert(utf8, AnsiCodeset().c_str(), "UTF-8", "?");
}

std::string FromAnsi(std::string_view ansi) {
  if (LocaleIsUtf8()) return std::string(ansi);
  return Convert(ansi, "UTF-8", AnsiCodeset().c_str(), "\xEF\xBF\xBD");
}

bool LocalTextUsesCrlf() { return false; }

bool UserLanguageIsJapanese() {
  auto starts_with_ja = [](const char* s) {
    return s != nullptr && std::strncmp(s, "ja", 2) == 0;
  };
  const char* current = std::setlocale(LC_MESSAGES, nullptr);
  if (current != nullptr && std::strcmp(current, "C") != 0 &&
      std::strcmp(current, "POSIX") != 0) {
    return starts_with_ja(current);
  }
  // The program has not taken the user's locale (or it is not installed):
  // the user's choice is still in the environment, in POSIX precedence.
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return starts_with_ja(value);
  }
  return false;
}

}  // namespace platform
