// The user's locale: conversion between the program's strings (UTF-8) and the
// system ANSI code page, and the user's language. On POSIX systems the ANSI
// code page is the character set of the current locale (after
// Env::PrepareProcess), and the C/POSIX locale is taken as UTF-8; on Windows
// it is the system's ANSI code page.
#ifndef ZORVEX_PLATFORM_LOCALE_H_
#define ZORVEX_PLATFORM_LOCALE_H_

#include <string>
#include <string_view>

namespace platform {

// The name of the ANSI code page's character set, for example "UTF-8".
std::string AnsiCodeset();

// True when the ANSI code page is UTF-8, so that no conversion is needed.
bool AnsiIsUtf8();

// UTF-8 to the ANSI code page. A character that the code page cannot hold
// becomes "?"; invalid UTF-8 bytes are passed through unchanged.
std::string ToAnsi(std::string_view utf8);

// The ANSI code page to UTF-8. A byte sequence that is not valid in the code
// page becomes U+FFFD.
std::string FromAnsi(std::string_view ansi);

// True when the user's language is Japanese.
bool UserLanguageIsJapanese();

// True where local text files end their lines with CR LF, the network's own
// form (Windows); false where they end them with LF (POSIX systems). ASCII
// transfers convert line ends only where they differ.
bool LocalTextUsesCrlf();

}  // namespace platform

#endif  // ZORVEX_PLATFORM_LOCALE_H_
