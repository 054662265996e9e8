// A fault-injecting FTP server for the robustness tests
// (tests/support/faultftpd.py, which lists the scenarios and the event format):
// it listens on a loopback address, serves a temporary root, follows one named
// scenario, and logs what it saw as JSON lines.
#ifndef ZORVEX_TESTS_SUPPORT_FAULT_SERVER_H_
#define ZORVEX_TESTS_SUPPORT_FAULT_SERVER_H_

#include <memory>
#include <string>
#include <vector>

namespace testsupport {

struct FaultOptions {
  std::string address = "127.0.0.1";  // always a loopback address
  int port = 0;                       // 0 = a free port
  // Where reply-421-mid-session, huge-reply-line, non-numeric-reply and
  // endless-multiline strike: "greeting" or a command verb ("PWD", "STOR").
  // Empty = the scenario's default.
  std::string fault_at;
  // pasv-other-host: the address its PASV reply names (empty = 127.0.0.2, or
  // 127.0.0.3 when the server is on 127.0.0.2), and the port of a decoy that
  // the test listens on there (0 = the server runs its own decoy and logs
  // "decoy-accept" events).
  std::string decoy_address;
  int decoy_port = 0;
  // active-foreign-source: the address its first, foreign data connection
  // comes from (empty = as decoy_address).
  std::string foreign_address;
  // Empty = any login is accepted.
  std::string user;
  std::string password;
  // The certificate chain and key of the tls-* scenarios and of `tls`
  // (PEM).
  std::string cert_chain;
  std::string cert_key;
  // Any other scenario over explicit TLS, data connections included.
  bool tls = false;
  // SIZE refused and no byte count in the 150 of RETR.
  bool hide_size = false;
  // No REST STREAM in FEAT, and REST refused.
  bool no_rest = false;
};

class FaultServer {
 public:
  // Starts the scenario and waits until it listens; fails the current test
  // (and returns nullptr) when it cannot be started.
  static std::unique_ptr<FaultServer> Start(const std::string& scenario,
                                            const std::string& address = "127.0.0.1",
                                            int port = 0);
  static std::unique_ptr<FaultServer> Start(const std::string& scenario,
                                            const FaultOptions& options);
  ~FaultServer();
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;

  const std::string& scenario() const { return scenario_; }
  const std::string& address() const { return address_; }
  int port() const { return port_; }
  // The folder the server serves as "/"; put files here before a download.
  const std::string& root() const { return root_; }

  // Every event logged so far, one JSON object per line, for example
  //   {"ev":"command","verb":"STOR","arg":"a.txt"}
  //   {"ev":"data-accept","peer":"127.0.0.1","port":40312}
  std::vector<std::string> Events() const;
  // The events of one kind ("command", "data-accept", "fault", ...).
  std::vector<std::string> Events(const std::string& kind) const;
  // The verbs of the commands received, in order ("USER", "PASS", ...).
  std::vector<std::string> Commands() const;
  // Waits until an event line containing `needle` appears; false on timeout.
  bool WaitForEvent(const std::string& needle, int timeout_ms = 5000) const;

 private:
  FaultServer() = default;
  std::string scenario_;
  std::string address_;
  int port_ = 0;
  std::string root_;
  std::string workdir_;
  std::string events_path_;
  int pid_ = -1;
};

}  // namespace testsupport

#endif  // ZORVEX_TESTS_SUPPORT_FAULT_SERVER_H_
