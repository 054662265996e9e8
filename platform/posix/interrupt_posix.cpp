#include "platform/posix/interrupt_posix.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace platform {
namespace {

std::atomic<int> g_signal{0};
thread_local bool t_closing = false;
std::atomic<int> g_read_fd{-1};
int g_write_fd = -1;

void OnInterrupt(int sig) {
  int none = 0;
  g_signal.compare_exchange_strong(none, sig);
  if (g_write_fd >= 0) {
    const char byte = 1;
    // Only async-signal-safe calls here; a full pipe is awake already.
    [[maybe_unused]] const ssize_t n = ::write(g_write_fd, &byte, 1);
  }
}

}  // namespace

void CatchInterrupts() {
  static std::once_flag once;
  std::call_once(once, [] {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    g_write_fd = fds[1];
    g_read_fd.store(fds[0]);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // The first signal is ours; a second one takes its default action and
    // ends a run that does not stop.
    action.sa_flags = SA_RESETHAND;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &action, nullptr);
  });
}

bool Interrupted() { return g_signal.load() != 0; }

int InterruptSignal() { return g_signal.load(); }

void AllowClosingWaits(bool allow) { t_closing = allow; }

bool WaitsCancelled() { return !t_closing && Interrupted(); }

int InterruptFd() { return t_closing ? -1 : g_read_fd.load(); }

}  // namespace platform
