// Attempts again after a failure that may pass: which failures those are,
// the waits between attempts, and the loop that runs a step on a control
// connection until it succeeds, fails for good, or the connection's
// attempts (1 + FtpClientOptions::retries) are spent.
#ifndef ZORVEX_INET_RETRY_H_
#define ZORVEX_INET_RETRY_H_

#include <functional>
#include <string>

#include "inet/control_connection.h"
#include "inet/service.h"
#include "platform/env.h"

namespace inet {

// True when `error` may not come back on another attempt: the network's
// failures (12002, 12029, 12030, 12031) and a server's refusal whose reply
// code `reply_code` is 4xx. A 5xx refusal, a name that does not resolve, a
// TLS verdict, the user's interruption and every local error are final.
bool IsTransient(DWORD error, DWORD reply_code);

// The wait in seconds after failed attempt number `attempt` (1 for the
// first): 1, 2, 4 ... doubling, at most 30.
int RetryWaitSeconds(int attempt);

// Waits `seconds`, ending at once when the user interrupts the run: 0, or
// ERROR_CANCELLED.
DWORD WaitBeforeRetry(platform::Env* env, int seconds);

// The cause of a failure in words for the trace: the server's reply for a
// refusal (12003), else the error's number and text.
std::string FailureCause(DWORD error);

// Runs `step` on `conn` (its lock held by the caller) until it succeeds, or
// fails finally, or conn.attempts_used reaches 1 + retries; between
// attempts waits (saying so to the trace) and, with `reconnect_lost`,
// connects again when the connection was lost. Success renews the count
// with `renew`; without, the failed attempts stay counted against what
// follows on the connection (connecting, then the first transfer). Returns
// the last attempt's result.
DWORD RunAttempts(ControlConnection& conn, platform::Env* env,
                  bool reconnect_lost, bool renew,
                  const std::function<DWORD()>& step);

}  // namespace inet

#endif  // ZORVEX_INET_RETRY_H_
