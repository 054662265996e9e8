#include "platform/posix/tcp_posix.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/deadline.h"
#include "platform/errors.h"
#include "platform/posix/interrupt_posix.h"
#include "platform/posix/posix_file.h"
#include "platform/posix/socket_stream.h"

namespace platform {
namespace {

constexpr int kInterrupted = -2;

// Waits until `fd` is ready for `events`, the deadline passes or the user
// interrupts the run. Returns 1 ready, 0 timed out, -1 error (errno set),
// kInterrupted.
int WaitUntil(int fd, short events, const Deadline& deadline) {
  for (;;) {
    if (WaitsCancelled()) return kInterrupted;
    pollfd p[2] = {{fd, events, 0}, {InterruptFd(), POLLIN, 0}};
    const int rc = ::poll(p, p[1].fd >= 0 ? 2 : 1, deadline.LeftMs());
    if (rc > 0 && p[0].revents == 0) continue;  // the interruption's pipe
    if (rc > 0) return 1;
    if (rc == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

// The error number of a failed wait: 12002 when it timed out, 1223 when the
// user interrupted it, else the network error of errno.
uint32_t WaitError(int ready, uint32_t (*from_errno)(int)) {
  if (ready == 0) return ERROR_INTERNET_TIMEOUT;
  if (ready == kInterrupted) return ERROR_CANCELLED;
  return from_errno(errno);
}

uint32_t ConnectErrno(int err) {
  switch (err) {
    case ETIMEDOUT:
      return ERROR_INTERNET_TIMEOUT;
    case ENOMEM:
    case ENOBUFS:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:  // refused, unreachable, no route, address unavailable
      return ERROR_INTERNET_CANNOT_CONNECT;
  }
}

struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
  const sockaddr* get() const {
    return reinterpret_cast<const sockaddr*>(&storage);
  }
};

SocketAddress ToSocketAddress(const Address& address) {
  SocketAddress out;
  if (address.family == Address::Family::kIPv4) {
    auto* in = reinterpret_cast<sockaddr_in*>(&out.storage);
    in->sin_family = AF_INET;
    in->sin_port = htons(address.port);
    std::memcpy(&in->sin_addr, address.bytes.data(), 4);
    out.length = sizeof(sockaddr_in);
  } else if (address.family == Address::Family::kIPv6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&out.storage);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(address.port);
    in6->sin6_scope_id = address.scope_id;
    std::memcpy(&in6->sin6_addr, address.bytes.data(), 16);
    out.length = sizeof(sockaddr_in6);
  }
  return out;
}

Address FromSocketAddress(const sockaddr_storage& storage) {
  Address out;
  if (storage.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&storage);
    out.family = Address::Family::kIPv4;
    out.port = ntohs(in->sin_port);
    std::memcpy(out.bytes.data(), &in->sin_addr, 4);
  } else if (storage.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&storage);
    out.family = Address::Family::kIPv6;
    out.port = ntohs(in6->sin6_port);
    out.scope_id = in6->sin6_scope_id;
    std::memcpy(out.bytes.data(), &in6->sin6_addr, 16);
  }
  return out;
}

// The address a socket call (getsockname, getpeername) reports for `fd`.
Address SocketName(int fd, int (*call)(int, sockaddr*, socklen_t*)) {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  if (fd < 0 || call(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
    return Address();
  return FromSocketAddress(storage);
}

int FamilyOf(const Address& address) {
  return address.ipv6() ? AF_INET6 : AF_INET;
}

// A descriptor closed when it goes out of scope unless released.
class OwnedFd {
 public:
  explicit OwnedFd(int fd) : fd_(fd) {}
  ~OwnedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

class PosixListener : public Listener {
 public:
  explicit PosixListener(int fd) : fd_(fd) {}
  ~PosixListener() override { ::close(fd_); }
  PosixListener(const PosixListener&) = delete;
  PosixListener& operator=(const PosixListener&) = delete;

  Address LocalAddress() const override {
    return SocketName(fd_, ::getsockname);
  }

  uint32_t Accept(int timeout_ms, const Address& allowed_peer,
                  std::unique_ptr<Stream>* out) override {
    const Deadline deadline(timeout_ms);
    for (;;) {
      const int ready = WaitUntil(fd_, POLLIN, deadline);
      if (ready != 1) return WaitError(ready, NetworkErrno);
      sockaddr_storage peer{};
      socklen_t length = sizeof peer;
      OwnedFd fd(::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &length,
                           SOCK_NONBLOCK | SOCK_CLOEXEC));
      if (fd.get() < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ||
            errno == ECONNABORTED || errno == EPROTO)
          continue;
        return NetworkErrno(errno);
      }
      // A data connection from any host but the server's is refused: nobody
      // else may feed a download or take an upload.
      if (!FromSocketAddress(peer).SameHost(allowed_peer)) continue;
      *out = std::make_unique<SocketStream>(fd.release());
      return 0;
    }
  }

 private:
  int fd_;
};

}  // namespace

uint32_t WaitReady(int fd, short events, int timeout_ms) {
  const int ready = WaitUntil(fd, events, Deadline(timeout_ms));
  return ready == 1 ? 0 : WaitError(ready, NetworkErrno);
}

uint32_t SocketStream::Read(char* buffer, size_t size, int timeout_ms,
                            size_t* got) {
  *got = 0;
  if (fd_ < 0) return ERROR_INTERNET_CONNECTION_ABORTED;
  const Deadline deadline(timeout_ms);
  for (;;) {
    const ssize_t n = ::recv(fd_, buffer, size, 0);
    if (n >= 0) {
      *got = static_cast<size_t>(n);
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return NetworkErrno(errno);
    const int ready = WaitUntil(fd_, POLLIN, deadline);
    if (ready != 1) return WaitError(ready, NetworkErrno);
  }
}

uint32_t SocketStream::Write(const char* data, size_t size, int timeout_ms) {
  if (fd_ < 0) return ERROR_INTERNET_CONNECTION_ABORTED;
  while (size > 0) {
    const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (uint32_t e = WaitReady(fd_, POLLOUT, timeout_ms)) return e;
      continue;
    }
    return NetworkErrno(n < 0 ? errno : EPIPE);
  }
  return 0;
}

uint32_t SocketStream::Shutdown(int) {
  if (fd_ < 0) return ERROR_INTERNET_CONNECTION_ABORTED;
  if (::shutdown(fd_, SHUT_WR) != 0 && errno != ENOTCONN)
    return NetworkErrno(errno);
  return 0;
}

void SocketStream::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

Address SocketStream::PeerAddress() const {
  return SocketName(fd_, ::getpeername);
}

Address SocketStream::LocalAddress() const {
  return SocketName(fd_, ::getsockname);
}

uint32_t TcpConnect(const std::string& host, uint16_t port, int timeout_ms,
                    std::unique_ptr<Stream>* out) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (rc != 0) {
    if (rc == EAI_MEMORY) return ERROR_NOT_ENOUGH_MEMORY;
    return ERROR_INTERNET_NAME_NOT_RESOLVED;
  }
  const Deadline deadline(timeout_ms);
  uint32_t error = ERROR_INTERNET_CANNOT_CONNECT;
  for (addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    if (WaitsCancelled()) {
      error = ERROR_CANCELLED;
      break;
    }
    if (ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
    const int left = deadline.LeftMs();
    if (left == 0) {
      error = ERROR_INTERNET_TIMEOUT;
      break;
    }
    sockaddr_storage storage{};
    std::memcpy(&storage, ai->ai_addr, ai->ai_addrlen);
    error = TcpConnectTo(FromSocketAddress(storage), nullptr, left, out);
    if (error == 0) break;
  }
  ::freeaddrinfo(list);
  return error;
}

uint32_t TcpConnectTo(const Address& remote, const Address* local,
                      int timeout_ms, std::unique_ptr<Stream>* out) {
  OwnedFd fd(::socket(FamilyOf(remote),
                      SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
  if (fd.get() < 0) return ConnectErrno(errno);
  if (local != nullptr) {
    Address bind_to = *local;
    bind_to.port = 0;
    const SocketAddress sa = ToSocketAddress(bind_to);
    if (::bind(fd.get(), sa.get(), sa.length) != 0) return ConnectErrno(errno);
  }
  const Deadline deadline(timeout_ms);
  const SocketAddress sa = ToSocketAddress(remote);
  if (::connect(fd.get(), sa.get(), sa.length) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return ConnectErrno(errno);
    const int ready = WaitUntil(fd.get(), POLLOUT, deadline);
    if (ready != 1) return WaitError(ready, ConnectErrno);
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0)
      return ConnectErrno(errno);
    if (err != 0) return ConnectErrno(err);
  }
  *out = std::make_unique<SocketStream>(fd.release());
  return 0;
}

uint32_t TcpListen(const Address& local, std::unique_ptr<Listener>* out) {
  OwnedFd fd(::socket(FamilyOf(local),
                      SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
  if (fd.get() < 0) return ConnectErrno(errno);
  Address bind_to = local;
  bind_to.port = 0;
  const SocketAddress sa = ToSocketAddress(bind_to);
  if (::bind(fd.get(), sa.get(), sa.length) != 0 || ::listen(fd.get(), 1) != 0)
    return ConnectErrno(errno);
  *out = std::make_unique<PosixListener>(fd.release());
  return 0;
}

}  // namespace platform
