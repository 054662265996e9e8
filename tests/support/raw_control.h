// Sockets for tests: the address of a numeric host and port, a bare TCP
// connection and what the peer sends, and a bare FTP control connection for
// tests of the test servers themselves (send a command line, read one whole
// reply).
#ifndef ZORVEX_TESTS_SUPPORT_RAW_CONTROL_H_
#define ZORVEX_TESTS_SUPPORT_RAW_CONTROL_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace testsupport {

// The socket address of a numeric IPv4 or IPv6 address (an address with a
// ':' is IPv6) and a port; false when the address does not parse.
inline bool NumericAddress(const std::string& address, int port,
                           sockaddr_storage* ss, socklen_t* len) {
  *ss = sockaddr_storage{};
  if (address.find(':') != std::string::npos) {
    auto* a = reinterpret_cast<sockaddr_in6*>(ss);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(static_cast<uint16_t>(port));
    *len = sizeof(*a);
    return inet_pton(AF_INET6, address.c_str(), &a->sin6_addr) == 1;
  }
  auto* a = reinterpret_cast<sockaddr_in*>(ss);
  a->sin_family = AF_INET;
  a->sin_port = htons(static_cast<uint16_t>(port));
  *len = sizeof(*a);
  return inet_pton(AF_INET, address.c_str(), &a->sin_addr) == 1;
}

// A TCP connection to a numeric address (IPv4 or IPv6); -1 on failure.
inline int ConnectTcp(const std::string& address, int port) {
  sockaddr_storage ss;
  socklen_t len = 0;
  if (!NumericAddress(address, port, &ss, &len)) return -1;
  int fd = socket(ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0) {
    close(fd);
    fd = -1;
  }
  return fd;
}

// A listening TCP socket on a numeric address and port (0: one the system
// picks); stores the port it is bound to in *bound_port. -1 on failure.
inline int ListenTcp(const std::string& address, int port, int* bound_port) {
  sockaddr_storage ss;
  socklen_t len = 0;
  if (!NumericAddress(address, port, &ss, &len)) return -1;
  int fd = socket(ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0 ||
      listen(fd, 8) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) {
    close(fd);
    return -1;
  }
  *bound_port = ss.ss_family == AF_INET6
                    ? ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port)
                    : ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
  return fd;
}

// Everything the peer sends until it closes (or timeout_ms of silence).
inline std::string ReadToEnd(int fd, int timeout_ms = 5000) {
  std::string data;
  char buf[4096];
  while (true) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) != 1) break;
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  return data;
}

class RawControl {
 public:
  RawControl(const std::string& address, int port)
      : fd_(ConnectTcp(address, port)) {}
  ~RawControl() {
    if (fd_ >= 0) close(fd_);
  }
  RawControl(const RawControl&) = delete;
  RawControl& operator=(const RawControl&) = delete;
  bool connected() const { return fd_ >= 0; }

  // The last line of the next reply; "" when the peer closes or says nothing
  // for timeout_ms.
  std::string Reply(int timeout_ms = 5000) {
    while (true) {
      size_t eol = buffer_.find("\r\n");
      if (eol != std::string::npos) {
        std::string line = buffer_.substr(0, eol);
        buffer_.erase(0, eol + 2);
        if (line.size() >= 4 && line[3] == ' ') return line;
        continue;
      }
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, timeout_ms) != 1) return "";
      char buf[4096];
      ssize_t n = read(fd_, buf, sizeof buf);
      if (n <= 0) return "";
      buffer_.append(buf, static_cast<size_t>(n));
    }
  }
  // Sends "line\r\n" and reads the reply.
  std::string Command(const std::string& line, int timeout_ms = 5000) {
    std::string out = line + "\r\n";
    if (send(fd_, out.data(), out.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(out.size())) {
      return "";
    }
    return Reply(timeout_ms);
  }

 private:
  int fd_ = -1;
  std::string buffer_;
};

}  // namespace testsupport

#endif  // ZORVEX_TESTS_SUPPORT_RAW_CONTROL_H_
