// The process's standard error as an operator sees it.
#ifndef ZORVEX_PLATFORM_CONSOLE_H_
#define ZORVEX_PLATFORM_CONSOLE_H_

namespace platform {

// True when standard error is a terminal (a console window on Windows), so
// that a line may be redrawn in place; false for a file or a pipe.
bool StandardErrorIsTerminal();

}  // namespace platform

#endif  // ZORVEX_PLATFORM_CONSOLE_H_
