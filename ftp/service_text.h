// Texts crossing the service: the session's UTF-8 strings go out in the
// system ANSI code page, NUL-terminated, and texts come back from a buffer up
// to its first NUL.
#ifndef ZORVEX_FTP_SERVICE_TEXT_H_
#define ZORVEX_FTP_SERVICE_TEXT_H_

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/locale.h"

namespace zorvex {

// A string for the service: ANSI, NUL-terminated (c_str()).
inline std::string Ansi(std::string_view text) { return platform::ToAnsi(text); }

// A text from the service: the bytes up to the first NUL (at most `size`),
// converted from ANSI.
inline std::string FromBuffer(const char* buffer, size_t size) {
  const char* end = std::find(buffer, buffer + size, '\0');
  return platform::FromAnsi(std::string_view(buffer, end - buffer));
}

}  // namespace zorvex

#endif  // ZORVEX_FTP_SERVICE_TEXT_H_
