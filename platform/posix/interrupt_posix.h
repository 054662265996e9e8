// The user's interruption on POSIX systems: SIGINT, SIGTERM and SIGHUP set a
// flag and wake every socket wait through a pipe, so that the run ends
// through its ordinary failure path (a download's temporary file removed,
// the run log written). A second signal ends the process at once.
#ifndef ZORVEX_PLATFORM_POSIX_INTERRUPT_POSIX_H_
#define ZORVEX_PLATFORM_POSIX_INTERRUPT_POSIX_H_

namespace platform {

// Installs the handlers (once; later calls do nothing).
void CatchInterrupts();
// True once an interruption has arrived.
bool Interrupted();
// The number of the signal that interrupted the run (SIGINT 2, SIGTERM 15,
// SIGHUP 1); 0 before an interruption.
int InterruptSignal();
// While set on the calling thread, its socket waits run to their own
// timeouts even after an interruption, so that a connection can be closed
// politely; see Env::AllowClosingWaits.
void AllowClosingWaits(bool allow);
// True when the calling thread's waits must end at once: interrupted, and
// not closing.
bool WaitsCancelled();
// A descriptor that becomes readable on an interruption; -1 before
// CatchInterrupts, and while the calling thread is closing. Waits poll it
// beside their socket.
int InterruptFd();

}  // namespace platform

#endif  // ZORVEX_PLATFORM_POSIX_INTERRUPT_POSIX_H_
