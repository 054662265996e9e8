// The options of our FTP client (inet/ftp_client.h): timeouts, the listing
// command, and what an operator may watch. A client applies them to
// connections it opens later.
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
