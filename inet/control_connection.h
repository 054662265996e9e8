// One FTP control connection (RFC 959, with EPSV/EPRT and FEAT): sending a
// command, reading its reply, opening a data connection, and running a
// transfer command with a pump that moves the data.
//
// Every operation returns 0 or an error number. A reply that refuses an
// operation (4xx, 5xx, or a code that does not fit the command) gives
// ERROR_INTERNET_EXTENDED_ERROR, and every reply read becomes the thread's
// last response. After a timeout, a lost connection or a reply that does not
// parse, the connection is closed on our side and every later operation
// fails at once with broken() (12030, or 12031 when the peer reset it).
// A wait the user interrupted (1223) leaves the connection open but fails
// every later operation with 1223, except Quit.
//
// Not thread-safe by itself: the caller holds `mu` for each operation.
#ifndef ZORVEX_INET_CONTROL_CONNECTION_H_
#define ZORVEX_INET_CONTROL_CONNECTION_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "inet/client_options.h"
#include "inet/errors.h"
#include "inet/line_splitter.h"
#include "inet/reply.h"
#include "inet/service.h"
#include "platform/env.h"
#include "platform/tls.h"

namespace inet {

// FTP over TLS: none, negotiated after the greeting (AUTH TLS), or from the
// first byte; with the trust file of platform::TlsOptions.
struct ConnectionSecurity {
  enum class Mode { kNone, kExplicit, kImplicit };
  Mode mode = Mode::kNone;
  std::string trust_file;
};

class ControlConnection {
 public:
  // Moves the bytes of one transfer over `data`, once the server has
  // answered the transfer command with `preliminary` (a 1xx reply). Returns
  // 0, a local error (a file's) or a network error.
  using Pump =
      std::function<DWORD(const Reply& preliminary, platform::Stream& data)>;

  // `passive`: data connections go to the server (EPSV, PASV); otherwise the
  // server connects to us (EPRT, PORT). With TLS asked for in `security`,
  // the control and every data connection are secured, or nothing is done.
  ControlConnection(platform::Env* env, const FtpClientOptions& options,
                    bool passive, ConnectionSecurity security = {});
  ~ControlConnection();
  ControlConnection(const ControlConnection&) = delete;
  ControlConnection& operator=(const ControlConnection&) = delete;

  // Connects to host:port and reads the greeting (a 120 may come first).
  // With TLS, secures the connection first (implicit) or after the greeting
  // (AUTH TLS): nothing else is sent before the server has been verified,
  // and a failure closes the connection without another word in clear.
  DWORD Open(const std::string& host, uint16_t port);
  // USER, and PASS when the server asks for it (331); with TLS then PBSZ 0
  // and PROT P, so that the data connections are secured too.
  DWORD Login(const std::string& user, const std::string& password);
  // Open and Login with these values, which are kept for Reconnect.
  DWORD Connect(const std::string& host, uint16_t port, const std::string& user,
                const std::string& password);
  // Drops what is left of the connection and everything learnt on it, and
  // connects and logs in again with the values Connect was given.
  DWORD Reconnect();
  // A connection not yet open with the same settings and login, for work
  // beside this one (such as cleaning up after it was lost).
  std::unique_ptr<ControlConnection> Sibling() const;

  // Sends one command and reads its reply, passing over preliminary ones.
  DWORD Command(const std::string& command, Reply* reply);
  // As Command; the reply must be of `kind` (2 or 3).
  DWORD Expect(const std::string& command, int kind, Reply* reply = nullptr);
  // TYPE A or TYPE I, sent only when the type changes.
  DWORD SetType(char type);
  // Opens a data connection, sends `command` (STOR, RETR, LIST, ...), runs
  // `pump` over the data connection once the server has answered 1xx, and
  // reads the reply that ends the transfer into *last (226 or 250 for
  // success). A pump error is returned unless the server's reply already
  // says the transfer failed (then 12003 with that reply).
  DWORD Transfer(const std::string& command, const Pump& pump, Reply* last);
  // True when the server lists `feature` (upper case, such as "MLST", or a
  // whole line such as "REST STREAM") in its FEAT reply; FEAT is sent once
  // per connection.
  bool HasFeature(std::string_view feature);
  // True when the server answers SIZE: it gave a size earlier on this
  // connection, or lists SIZE in its FEAT reply.
  bool SizeSupported() { return size_answered_ || HasFeature("SIZE"); }
  // Hands `line` to the options' trace, if any.
  void Trace(std::string_view line) const;

  // Logs out (QUIT, waiting briefly for 221; after the user's interruption
  // at most half a second for each step) and closes. With
  // `keep_last_response` the thread's last response stays what it was (the
  // reply that refused a login, say).
  void Quit(bool keep_last_response = false);

  DWORD broken() const { return broken_; }
  // True when the connection was lost (timed out, closed, reset, or broke
  // the protocol), as opposed to closed by Quit or never opened.
  bool lost() const {
    return broken_ == ERROR_INTERNET_CONNECTION_ABORTED ||
           broken_ == ERROR_INTERNET_CONNECTION_RESET;
  }
  const FtpClientOptions& options() const { return options_; }

  // Held by the service around each operation on this connection.
  std::mutex mu;
  // Set when the server refused MLSD although it announced MLST.
  bool mlsd_refused = false;
  // Attempts made since the last success, against options().retries.
  int attempts_used = 0;

 private:
  DWORD Send(const std::string& command, int timeout_ms);
  DWORD ReadReply(Reply* reply, int timeout_ms);
  // Opens the data connection: in passive mode connected to the server, in
  // active mode a listener that the server has been told about.
  DWORD PrepareData(std::unique_ptr<platform::Listener>* listener,
                    std::unique_ptr<platform::Stream>* data);
  DWORD PassivePort(uint16_t* port);
  // Secures the control connection with tls_.
  DWORD StartTls();
  void Break(DWORD error);
  // The dialogue for options_.trace, when one is set.
  void TraceAddress(std::string_view what,
                    const platform::Address& address) const;
  void TraceReply(std::string_view text) const;
  // Closes at once: after a refused or failed TLS start nothing more may go
  // out in clear, QUIT included.
  void Abandon(DWORD error);

  platform::Env* env_;
  FtpClientOptions options_;
  bool passive_;
  ConnectionSecurity security_;
  std::unique_ptr<platform::TlsClient> tls_;  // set once TLS is asked for
  std::unique_ptr<platform::Stream> control_;
  platform::Address peer_;   // the server's end of the control connection
  platform::Address local_;  // ours
  DWORD broken_ = 0;
  LineSplitter lines_{kMaxReplyLine};
  char type_ = 0;  // 'A', 'I', or 0 before the first TYPE
  bool epsv_refused_ = false;
  bool eprt_refused_ = false;
  bool feat_done_ = false;
  bool size_answered_ = false;
  std::vector<std::string> features_;  // first words and whole lines
  // What Connect was given, for Reconnect.
  std::string host_;
  uint16_t port_ = 0;
  std::string user_;
  std::string password_;
};

}  // namespace inet

#endif  // ZORVEX_INET_CONTROL_CONNECTION_H_
