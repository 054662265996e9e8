// Real FTP servers for the tests: pyftpdlib or vsftpd, started on a loopback
// address and port with a temporary root, and stopped (root removed) when the
// object goes away.
#ifndef ZORVEX_TESTS_SUPPORT_FTP_SERVER_H_
#define ZORVEX_TESTS_SUPPORT_FTP_SERVER_H_

#include <memory>
#include <string>

#include "tests/support/temp_files.h"

namespace testsupport {

enum class ServerKind { kPyftpdlib, kVsftpd };

// "pyftpdlib" or "vsftpd", for test names.
const char* KindName(ServerKind kind);

struct ServerOptions {
  std::string address = "127.0.0.1";  // always a loopback address
  int port = 0;                       // 0 = a free port
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

 private:
  FtpServer() = default;
  ServerKind kind_ = ServerKind::kPyftpdlib;
  std::string address_;
  int port_ = 0;
  std::string root_;
  std::string user_;
  std::string password_;
  std::string workdir_;
  int pid_ = -1;
};

}  // namespace testsupport

#endif  // ZORVEX_TESTS_SUPPORT_FTP_SERVER_H_
