// Text in the forms the Windows implementation hands to the system: the
// wide-character (UTF-16) calls take every path and name, converted from the
// ANSI code page in which the program passes paths, and the process's texts
// come back as UTF-8.
#ifndef ZORVEX_PLATFORM_WINDOWS_WIN_TEXT_H_
#define ZORVEX_PLATFORM_WINDOWS_WIN_TEXT_H_

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Text in the ANSI code page to UTF-16: false when it holds a NUL or a byte
// sequence that the code page does not define, which names no file.
bool AnsiToWide(std::string_view ansi, std::wstring* out);

// UTF-16 to UTF-8 and back; an unpaired surrogate, or an invalid UTF-8
// sequence, becomes U+FFFD.
std::string WideToUtf8(std::wstring_view wide);
std::wstring Utf8ToWide(std::string_view utf8);

// The raw tail of a command line as the system hands it over: what follows
// the program's name (a name in quotes runs to its closing quote, any other
// to the first space or tab) and the spaces and tabs after it.
std::wstring_view CommandLineTail(std::wstring_view command_line);

// The arguments of a command-line tail, split by the C runtime's rules:
// spaces and tabs outside quotes separate them; 2n backslashes before a quote
// give n backslashes and the quote opens or closes a quoted part, 2n+1 give n
// and a literal quote; "" inside a quoted part is a literal quote.
std::vector<std::wstring> SplitArguments(std::wstring_view tail);
// The tail after its first `count` arguments (split as above) and the spaces
// and tabs that follow them, as it stands in the command line.
std::wstring_view SkipArguments(std::wstring_view tail, size_t count);

}  // namespace platform

#endif  // ZORVEX_PLATFORM_WINDOWS_WIN_TEXT_H_
