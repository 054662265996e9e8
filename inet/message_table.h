// The message table behind FormatMessageA: one line of text for each system
// and Internet error code that the client gives, and for the common system
// codes, in English and in Japanese.
#ifndef ZORVEX_INET_MESSAGE_TABLE_H_
#define ZORVEX_INET_MESSAGE_TABLE_H_

#include <cstddef>
#include <string_view>

#include "inet/service.h"

namespace inet {

// The text of code, UTF-8, with no line break; empty when the code is unknown.
std::string_view LookupMessage(DWORD code, bool japanese);

// The codes that have a text, in ascending order (for tests and tools).
size_t MessageCount();
DWORD MessageCodeAt(size_t index);

}  // namespace inet

#endif  // ZORVEX_INET_MESSAGE_TABLE_H_
