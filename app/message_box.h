// The program's message facility. On this platform a message "box" is one line
// on standard error: the title "zorvexrun", ": ", then the text with its line
// breaks removed, in the locale's character set. Tests replace the sink to
// capture messages.
#ifndef ZORVEX_APP_MESSAGE_BOX_H_
#define ZORVEX_APP_MESSAGE_BOX_H_

#include <functional>
#include <string>
#include <string_view>

namespace zorvex {

inline constexpr std::string_view kAppTitle = "zorvexrun";

// Shows one message. Never throws.
void MsgBox(std::string_view text);

// Replaces where messages go (the text as MsgBox received it); an empty
// function restores standard error. Returns the previous sink.
using MessageSink = std::function<void(std::string_view text)>;
MessageSink SetMessageSink(MessageSink sink);

}  // namespace zorvex

#endif  // ZORVEX_APP_MESSAGE_BOX_H_
