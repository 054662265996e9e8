// The string functions that the run's command splitting uses, with the
// classic BASIC semantics: 1-based character positions, and a negative length
// or a start below 1 raising run-time error 5.
//
// A character is one well-formed UTF-8 sequence; any byte that does not start
// one (the text may come from a command line that is not valid UTF-8) counts
// as a character of its own, so every byte string splits without loss.
#ifndef ZORVEX_APP_TEXT_FUNCTIONS_H_
#define ZORVEX_APP_TEXT_FUNCTIONS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zorvex {

// Number of bytes of the character that starts at s[i] (1 to 4); i < s.size().
size_t CharLength(std::string_view s, size_t i);

// Number of characters in s.
int64_t Len(std::string_view s);

// Position of the first occurrence of `what` in s, 0 when absent.
int64_t InStr(std::string_view s, std::string_view what);

// Position of the last occurrence of `what` in s, 0 when absent.
int64_t InStrRev(std::string_view s, std::string_view what);

// Up to `length` characters from position `start`; "" when start is past the
// end. start < 1 or length < 0: run-time error 5.
std::string Mid(std::string_view s, int64_t start, int64_t length);
// All characters from position `start`. start < 1: run-time error 5.
std::string Mid(std::string_view s, int64_t start);

// The first `length` characters. length < 0: run-time error 5.
std::string Left(std::string_view s, int64_t length);

// s without its leading and trailing spaces (spaces only, not tabs).
std::string Trim(std::string_view s);

}  // namespace zorvex

#endif  // ZORVEX_APP_TEXT_FUNCTIONS_H_
