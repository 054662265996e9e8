#include "platform/console.h"

#include <windows.h>

namespace platform {

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         ::GetConsoleMode(handle, &mode) != 0;
}

}  // namespace platform
