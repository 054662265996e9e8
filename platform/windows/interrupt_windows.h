// The user's interruption on Windows: Ctrl+C, Ctrl+Break, the console
// closing, logoff and shutdown reach a console control handler, which sets a
// flag that every socket wait checks at least every kInterruptSliceMs, so
// that the run ends through its ordinary failure path (a download's
// temporary file removed, the run log written). A second Ctrl+C or
// Ctrl+Break ends the process at once (the system's default handler).
//
// For the console closing (and logoff and shutdown) the system ends the
// process as soon as the handler returns, so the handler holds it there,
// bounded by kCloseGraceMs (under the system's 5 seconds), until the main
// thread has finished its cleanup and ended the process itself.
#ifndef ZORVEX_PLATFORM_WINDOWS_INTERRUPT_WINDOWS_H_
#define ZORVEX_PLATFORM_WINDOWS_INTERRUPT_WINDOWS_H_

#include <atomic>

namespace platform {

// How often a wait looks at the flag, in milliseconds.
constexpr int kInterruptSliceMs = 50;
// How long a close, logoff or shutdown event holds the process at most.
constexpr int kCloseGraceMs = 4500;

// The state behind the handler; the process has one (below), a test may
// make its own.
class ConsoleInterrupts {
 public:
  // `main_thread`: a HANDLE to the thread whose end a close event waits for
  // (owned by this object; may be null); `grace_ms` bounds that wait.
  ConsoleInterrupts(void* main_thread, int grace_ms);
  ~ConsoleInterrupts();
  ConsoleInterrupts(const ConsoleInterrupts&) = delete;
  ConsoleInterrupts& operator=(const ConsoleInterrupts&) = delete;

  // The handler's work for one console control event (CTRL_C_EVENT, ...).
  // Returns true when the event was dealt with here, false to pass it on to
  // the system's default handler, which ends the process: a second Ctrl+C or
  // Ctrl+Break, or an event that is not one of those above.
  bool OnEvent(unsigned long type);
  bool interrupted() const { return signal_.load() != 0; }
  // The signal number the first event stands for: 2 (SIGINT) for Ctrl+C,
  // 21 (SIGBREAK) for Ctrl+Break, 1 (as SIGHUP) for the console closing,
  // logoff and shutdown; 0 before any.
  int signal() const { return signal_.load(); }

 private:
  std::atomic<int> signal_{0};
  void* main_thread_;
  int grace_ms_;
};

// Installs the process's handler (once; later calls do nothing).
void CatchInterrupts();
// True once an interruption has arrived.
bool Interrupted();
// ConsoleInterrupts::signal of the process's handler.
int InterruptSignal();
// While set on the calling thread, its socket waits run to their own
// timeouts even after an interruption; see Env::AllowClosingWaits.
void AllowClosingWaits(bool allow);
// True when the calling thread's waits must end at once: interrupted, and
// not closing.
bool WaitsCancelled();

}  // namespace platform

#endif  // ZORVEX_PLATFORM_WINDOWS_INTERRUPT_WINDOWS_H_
