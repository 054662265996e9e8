#include "inet/retry.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "inet/errors.h"
#include "inet/last_error.h"
#include "inet/message_table.h"

namespace inet {
namespace {

constexpr int kMaxWaitS = 30;
// How often a wait looks at the user's interruption.
constexpr auto kWaitSlice = std::chrono::milliseconds(50);

}  // namespace

bool IsTransient(DWORD error, DWORD reply_code) {
  switch (error) {
    case ERROR_INTERNET_TIMEOUT:
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
      return true;
    case ERROR_INTERNET_EXTENDED_ERROR:
      return reply_code >= 400 && reply_code < 500;
    default:
      return false;
  }
}

int RetryWaitSeconds(int attempt) {
  if (attempt < 1) attempt = 1;
  if (attempt > 5) return kMaxWaitS;  // 2^5 = 32 already passes the cap
  return std::min(1 << (attempt - 1), kMaxWaitS);
}

DWORD WaitBeforeRetry(platform::Env* env, int seconds) {
  const auto until = std::chrono::steady_clock::now() +
                     std::chrono::seconds(std::max(seconds, 0));
  for (;;) {
    if (env->Interrupted()) return ERROR_CANCELLED;
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) return 0;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(until - now, kWaitSlice));
  }
}

std::string FailureCause(DWORD error) {
  if (error == ERROR_INTERNET_EXTENDED_ERROR) {
    const std::string& text = ThreadLastResponse().text;
    return text.substr(0, text.find("\r\n"));
  }
  std::string cause = "error " + std::to_string(error);
  const std::string_view text = LookupMessage(error, /*japanese=*/false);
  if (!text.empty()) cause.append(" (").append(text).append(")");
  return cause;
}

DWORD RunAttempts(ControlConnection& conn, platform::Env* env,
                  bool reconnect_lost, bool renew,
                  const std::function<DWORD()>& step) {
  const int attempts = 1 + std::max(conn.options().retries, 0);
  for (;;) {
    DWORD e = 0;
    if (reconnect_lost && conn.lost()) e = conn.Reconnect();
    if (e == 0) e = step();
    ++conn.attempts_used;
    if (e == 0) {
      // The attempt that succeeded is not counted against what follows.
      conn.attempts_used = renew ? 0 : conn.attempts_used - 1;
      return 0;
    }
    if (conn.attempts_used >= attempts ||
        !IsTransient(e, ThreadLastResponse().code))
      return e;
    const int wait = RetryWaitSeconds(conn.attempts_used);
    conn.Trace("attempt " + std::to_string(conn.attempts_used) + " of " +
               std::to_string(attempts) + ": " + FailureCause(e) +
               ", waiting " + std::to_string(wait) + " s");
    // The failure stays the call's last error and response through the wait.
    const LastResponse failed = ThreadLastResponse();
    if (WaitBeforeRetry(env, wait) != 0) return ERROR_CANCELLED;
    SetLastResponse(failed.code, failed.text);
  }
}

}  // namespace inet
