#include "platform/windows/interrupt_windows.h"

#include <mutex>

#include <windows.h>

namespace platform {
namespace {

// The numbers the C runtime gives these signals.
constexpr int kSigHup = 1;
constexpr int kSigInt = 2;
constexpr int kSigBreak = 21;

std::atomic<ConsoleInterrupts*> g_process{nullptr};
thread_local bool t_closing = false;

BOOL WINAPI OnConsoleEvent(DWORD type) {
  ConsoleInterrupts* state = g_process.load();
  return state != nullptr && state->OnEvent(type) ? TRUE : FALSE;
}

}  // namespace

ConsoleInterrupts::ConsoleInterrupts(void* main_thread, int grace_ms)
    : main_thread_(main_thread), grace_ms_(grace_ms) {}

ConsoleInterrupts::~ConsoleInterrupts() {
  if (main_thread_ != nullptr) ::CloseHandle(static_cast<HANDLE>(main_thread_));
}

bool ConsoleInterrupts::OnEvent(unsigned long type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: {
      // The first one is ours; a run that does not stop is ended by the next.
      int none = 0;
      return signal_.compare_exchange_strong(
          none, type == CTRL_C_EVENT ? kSigInt : kSigBreak);
    }
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: {
      int none = 0;
      signal_.compare_exchange_strong(none, kSigHup);
      // The process ends when this returns: give the main thread the time
      // to fail through its ordinary path and end the process itself.
      if (main_thread_ != nullptr) {
        ::WaitForSingleObject(static_cast<HANDLE>(main_thread_),
                              static_cast<DWORD>(grace_ms_));
      } else {
        ::Sleep(static_cast<DWORD>(grace_ms_));
      }
      return true;
    }
    default:
      return false;
  }
}

void CatchInterrupts() {
  static std::once_flag once;
  std::call_once(once, [] {
    HANDLE main_thread = nullptr;
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(),
                      ::GetCurrentProcess(), &main_thread, SYNCHRONIZE, FALSE,
                      0);
    // Lives as long as the process: the handler may run until its end.
    g_process.store(new ConsoleInterrupts(main_thread, kCloseGraceMs));
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  });
}

bool Interrupted() {
  const ConsoleInterrupts* state = g_process.load();
  return state != nullptr && state->interrupted();
}

int InterruptSignal() {
  const ConsoleInterrupts* state = g_process.load();
  return state != nullptr ? state->signal() : 0;
}

void AllowClosingWaits(bool allow) { t_closing = allow; }

bool WaitsCancelled() { return !t_closing && Interrupted(); }

}  // namespace platform
