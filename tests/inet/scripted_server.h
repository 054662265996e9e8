// A scripted FTP peer for protocol tests: listens on a loopback address and
// runs a script on the first connection, in a thread of its own. Lets a test
// play a server that misbehaves in exactly the way it wants.
#ifndef ZORVEX_TESTS_INET_SCRIPTED_SERVER_H_
#define ZORVEX_TESTS_INET_SCRIPTED_SERVER_H_

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>

#include "tests/support/raw_control.h"

namespace scripted {

// A listening TCP socket on `address` with a port chosen by the system.
inline int ListenOn(const std::string& address, int* port) {
  return testsupport::ListenTcp(address, 0, port);
}

// Accepts one connection, waiting at most timeout_ms; -1 when none came.
inline int AcceptOne(int listen_fd, int timeout_ms = 5000) {
  pollfd p{listen_fd, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) != 1) return -1;
  return accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
}

// Connects from `from` (a loopback address) to `to`:`port`.
inline int ConnectFrom(const std::string& from, const std::string& to, int port) {
  sockaddr_storage local, remote;
  socklen_t local_len = 0, remote_len = 0;
  if (!testsupport::NumericAddress(from, 0, &local, &local_len) ||
      !testsupport::NumericAddress(to, port, &remote, &remote_len)) {
    return -1;
  }
  int fd = socket(remote.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), local_len) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&remote), remote_len) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

inline bool SendAll(int fd, const std::string& data) {
  size_t off = 0;
  while (off < data.size()) {
    ssize_t n = send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

// The control connection as the server sees it.
class Peer {
 public:
  explicit Peer(int fd) : fd_(fd) {}
  ~Peer() {
    if (fd_ >= 0) close(fd_);
  }
  int fd() const { return fd_; }
  bool Send(const std::string& raw) { return SendAll(fd_, raw); }
  bool Reply(const std::string& line) { return Send(line + "\r\n"); }
  // The next command line without its CRLF; "" when the client closed or
  // stayed silent for timeout_ms.
  std::string Command(int timeout_ms = 5000) {
    for (;;) {
      size_t eol = buffer_.find("\r\n");
      if (eol != std::string::npos) {
        std::string line = buffer_.substr(0, eol);
        buffer_.erase(0, eol + 2);
        return line;
      }
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, timeout_ms) != 1) return "";
      char buf[4096];
      ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) return "";
      buffer_.append(buf, static_cast<size_t>(n));
    }
  }
  // Greets and accepts any login.
  void Login() {
    Reply("220 scripted server");
    Command();
    Reply("331 password please");
    Command();
    Reply("230 logged in");
  }
  // Answers QUIT and returns; returns at once when the client is gone.
  void ServeQuit() {
    for (std::string c = Command(); !c.empty(); c = Command()) {
      if (c == "QUIT") {
        Reply("221 bye");
        return;
      }
      Reply("502 not here");
    }
  }

 private:
  int fd_;
  std::string buffer_;
};

class Server {
 public:
  explicit Server(std::function<void(Peer&)> script, const std::string& address = "127.0.0.1") {
    listen_fd_ = ListenOn(address, &port_);
    thread_ = std::thread([this, script] {
      int fd = AcceptOne(listen_fd_, 10000);
      if (fd < 0) return;
      Peer peer(fd);
      script(peer);
    });
  }
  ~Server() { Join(); }
  int port() const { return port_; }
  // Waits for the script to end.
  void Join() {
    if (thread_.joinable()) thread_.join();
    if (listen_fd_ >= 0) close(listen_fd_);
    listen_fd_ = -1;
  }

 private:
  int listen_fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

}  // namespace scripted

#endif  // ZORVEX_TESTS_INET_SCRIPTED_SERVER_H_
