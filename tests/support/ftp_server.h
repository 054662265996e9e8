// Real FTP servers for the tests: pyftpdlib or vsftpd, started on a loopback
// address and port with a temporary root, and stopped (root removed) when the
// object goes away; plain FTP, or FTP over TLS that the server requires.
#ifndef ZORVEX_TESTS_SUPPORT_FTP_SERVER_H_
#define ZORVEX_TESTS_SUPPORT_FTP_SERVER_H_

#include <memory>
#include <string>

#include "tests/support/temp_files.h"

namespace testsupport {

enum class ServerKind { kPyftpdlib, kVsftpd };

// "pyftpdlib" or "vsftpd", for test names.
const char* KindName(ServerKind kind);

// FTP over TLS: none, explicit (AUTH TLS; both servers) or implicit (TLS
// from the first byte; vsftpd only).
enum class TlsMode { kNone, kExplicit, kImplicit };

struct ServerOptions {
  std::string address = "127.0.0.1";  // always a loopback address
  int port = 0;                       // 0 = a free port
  // With TLS the server serves cert_chain (PEM: its certificate, then the
  // issuers) with cert_key, and refuses a login or a data connection
  // without TLS; vsftpd also refuses (522) a data connection whose TLS
  // session does not resume the control connection's. (Every member has a
  // default initializer, so that `{address, port}` stays a complete one.)
  TlsMode tls = TlsMode::kNone;
  std::string cert_chain{};
  std::string cert_key{};
  // TLS 1.2 at most; otherwise 1.2 and 1.3 are offered.
  bool tls12_only = false;
};

class FtpServer {
 public:
  // Starts the server and waits until it answers; fails the current test
  // (and returns nullptr) when it cannot be started.
  static std::unique_ptr<FtpServer> Start(ServerKind kind,
                                          const ServerOptions& options = {});
  ~FtpServer();

  ServerKind kind() const { return kind_; }
  const std::string& address() const { return address_; }
  int port() const { return port_; }
  // The folder that the login lands in, writable by the server.
  const std::string& root() const { return root_; }
  // An account that the server accepts with full rights in root().
  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }
  // The server's protocol log so far: each command received (the password
  // masked), and with vsftpd each TLS handshake ("SSL version: TLSv1.3,
  // SSL cipher: ..., reused" or "not reused").
  std::string Log() const;

 private:
  FtpServer() = default;
  ServerKind kind_ = ServerKind::kPyftpdlib;
  std::string address_;
  int port_ = 0;
  std::string root_;
  std::string user_;
  std::string password_;
  std::string workdir_;
  std::string log_;
  int pid_ = -1;
};

}  // namespace testsupport

#endif  // ZORVEX_TESTS_SUPPORT_FTP_SERVER_H_
