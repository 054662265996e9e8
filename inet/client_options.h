// The options of our FTP client (inet/ftp_client.h): timeouts, the listing
// command, how transfers guard against a network that fails them, and what
// an operator may watch. A client applies them to connections it opens
// later.
#ifndef ZORVEX_INET_CLIENT_OPTIONS_H_
#define ZORVEX_INET_CLIENT_OPTIONS_H_

#include <cstdint>
#include <functional>
#include <string_view>

namespace inet {

struct FtpClientOptions {
  int connect_timeout_ms = 30000;  // TCP connect, and the greeting
  int io_timeout_ms = 60000;       // inactivity on control and data connections
  int quit_timeout_ms = 2000;      // waiting for 221 after QUIT
  bool use_mlsd = true;            // false: always list with LIST

  // After a binary upload, the stored size (SIZE, where the server offers
  // it) must equal the bytes sent, or the upload fails with 12030.
  bool verify_upload = true;
  // TCP keepalive on the control connection (first probe after 60 s idle,
  // then every 15 s), so that a long transfer's idle control connection
  // stays open through NAT boxes and firewalls.
  bool keepalive = true;
  // How many more times a failure that may pass is tried again: connecting
  // (refused, reset, timed out, a 4xx greeting) and whole transfers (those
  // and a 4xx reply or a cut data connection), after waits of 1, 2, 4 ...
  // s, at most 30 s. 0: one attempt. A refused login, a 5xx reply and
  // local errors are never tried again. The count is shared by a
  // connection's connect and its next transfer, and renewed by every
  // transfer that succeeds. A cut binary download goes on from where it
  // stopped (REST) when the server offers REST STREAM.
  int retries = 0;
  // Uploads go to a temporary name in the target's folder (".<name>.zvx-"
  // and six random characters), are verified, and then renamed over the
  // target, so that the target never holds part of a file; on failure the
  // temporary file is deleted.
  bool atomic_upload = false;

  // When set, receives the dialogue one line at a time, on the calling
  // thread: each command sent (the password never), each reply line, each
  // data connection, and the cause of a failure.
  std::function<void(std::string_view line)> trace;
  // When set, called about five times a second from a thread of the
  // client's own while a file transfer runs: the local file's bytes moved so
  // far, and the whole size (0 when not known).
  std::function<void(uint64_t done, uint64_t total)> progress;
};

}  // namespace inet

#endif  // ZORVEX_INET_CLIENT_OPTIONS_H_
