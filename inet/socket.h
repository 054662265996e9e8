// TCP sockets for the control and data connections: an owning descriptor,
// connecting with a timeout to each resolved address in turn, and reads,
// writes and accepts that give up after a period of inactivity. Every
// operation returns 0 or the service error code that describes the failure
// (12002 timed out, 12007 name not resolved, 12029 cannot connect, 12030
// connection aborted, 12031 connection reset). Writes never raise SIGPIPE.
#ifndef ZORVEX_INET_SOCKET_H_
#define ZORVEX_INET_SOCKET_H_

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "inet/service.h"

namespace inet {

// An IPv4 or IPv6 socket address.
struct Endpoint {
  sockaddr_storage storage{};
  socklen_t length = 0;

  int family() const { return storage.ss_family; }
  uint16_t port() const;
  void set_port(uint16_t port);
  // The numeric host ("127.0.0.1", "::1").
  std::string host() const;
  // True when both name the same host (an IPv4-mapped IPv6 address equals
  // its IPv4 address); the ports are not compared.
  bool SameHost(const Endpoint& other) const;
};

// The service error code for a failed socket call's errno (a reset, a
// timeout, or otherwise an aborted connection).
DWORD NetworkError(int err);

class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() { Close(); }
  Socket(Socket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  bool valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void Close();

  // Resolves `host` (IPv4 and IPv6, names and numeric forms) and connects to
  // each address in turn until one answers; `timeout_ms` bounds the whole.
  static DWORD Connect(const std::string& host, uint16_t port, int timeout_ms,
                       Socket* out);
  // Connects to one address, first binding to `local` (port 0) when given.
  static DWORD ConnectTo(const Endpoint& remote, const Endpoint* local,
                         int timeout_ms, Socket* out);
  // Listens on `local` with a port chosen by the system.
  static DWORD Listen(const Endpoint& local, Socket* out);

  // Accepts one connection from `allowed_peer`'s host; a connection from any
  // other host is closed at once and the wait goes on.
  DWORD Accept(int timeout_ms, const Endpoint& allowed_peer, Socket* out);

  // Writes all of `data`; each wait for room is bounded by `timeout_ms`.
  DWORD SendAll(const char* data, size_t size, int timeout_ms);
  // Waits until the socket is ready for `events` (POLLIN, POLLOUT); 12002
  // when `timeout_ms` passes first.
  DWORD WaitReady(short events, int timeout_ms);
  // Reads what is there, up to `size` bytes, waiting at most `timeout_ms` for
  // the first byte. *got = 0 means the peer closed the connection.
  DWORD Recv(char* buffer, size_t size, int timeout_ms, size_t* got);

  DWORD LocalEndpoint(Endpoint* out) const;
  DWORD PeerEndpoint(Endpoint* out) const;
  void ShutdownWrite();

 private:
  int fd_ = -1;
};

}  // namespace inet

#endif  // ZORVEX_INET_SOCKET_H_
