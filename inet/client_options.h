// The options of our FTP client (inet/ftp_client.h): timeouts and the listing
// command. Plain values; a client applies them to connections it opens later.
#ifndef ZORVEX_INET_CLIENT_OPTIONS_H_
#define ZORVEX_INET_CLIENT_OPTIONS_H_

namespace inet {

struct FtpClientOptions {
  int connect_timeout_ms = 30000;  // TCP connect, and the greeting
  int io_timeout_ms = 60000;       // inactivity on control and data connections
  int quit_timeout_ms = 2000;      // waiting for 221 after QUIT
  bool use_mlsd = true;            // false: always list with LIST
};

}  // namespace inet

#endif  // ZORVEX_INET_CLIENT_OPTIONS_H_
