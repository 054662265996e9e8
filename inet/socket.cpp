#include "inet/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "inet/errors.h"

namespace inet {
namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point DeadlineAfter(int timeout_ms) {
  return Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
}

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                  deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

// Waits until `fd` is ready for `events` or the deadline passes.
// Returns 1 ready, 0 timed out, -1 error (errno set).
int WaitUntil(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int rc = ::poll(&p, 1, RemainingMs(deadline));
    if (rc > 0) return 1;
    if (rc == 0) return 0;
    if (errno != EINTR) return -1;
  }
}


DWORD ConnectErrno(int err) {
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

bool Normalize(const Endpoint& ep, int* family, unsigned char addr[16]) {
  if (ep.family() == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&ep.storage);
    *family = AF_INET;
    std::memcpy(addr, &in->sin_addr, 4);
    return true;
  }
  if (ep.family() == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&ep.storage);
    if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr)) {
      *family = AF_INET;
      std::memcpy(addr, in6->sin6_addr.s6_addr + 12, 4);
    } else {
      *family = AF_INET6;
      std::memcpy(addr, in6->sin6_addr.s6_addr, 16);
    }
    return true;
  }
  return false;
}

}  // namespace

uint16_t Endpoint::port() const {
  if (family() == AF_INET)
    return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
  if (family() == AF_INET6)
    return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
  return 0;
}

void Endpoint::set_port(uint16_t port) {
  if (family() == AF_INET)
    reinterpret_cast<sockaddr_in*>(&storage)->sin_port = htons(port);
  else if (family() == AF_INET6)
    reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port = htons(port);
}

std::string Endpoint::host() const {
  char buf[INET6_ADDRSTRLEN] = {};
  if (family() == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr,
              buf, sizeof buf);
  else if (family() == AF_INET6)
    inet_ntop(AF_INET6,
              &reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr, buf,
              sizeof buf);
  return buf;
}

bool Endpoint::SameHost(const Endpoint& other) const {
  int fa = 0, fb = 0;
  unsigned char a[16], b[16];
  if (!Normalize(*this, &fa, a) || !Normalize(other, &fb, b)) return false;
  if (fa != fb) return false;
  return std::memcmp(a, b, fa == AF_INET ? 4 : 16) == 0;
}

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void Socket::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

DWORD Socket::Connect(const std::string& host, uint16_t port, int timeout_ms,
                      Socket* out) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (rc != 0) {
    if (rc == EAI_MEMORY) return ERROR_NOT_ENOUGH_MEMORY;
    return ERROR_INTERNET_NAME_NOT_RESOLVED;
  }
  const Clock::time_point deadline = DeadlineAfter(timeout_ms);
  DWORD error = ERROR_INTERNET_CANNOT_CONNECT;
  for (addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
    const int left = RemainingMs(deadline);
    if (left == 0) {
      error = ERROR_INTERNET_TIMEOUT;
      break;
    }
    Endpoint remote;
    std::memcpy(&remote.storage, ai->ai_addr, ai->ai_addrlen);
    remote.length = ai->ai_addrlen;
    error = ConnectTo(remote, nullptr, left, out);
    if (error == 0) break;
  }
  ::freeaddrinfo(list);
  return error;
}

DWORD Socket::ConnectTo(const Endpoint& remote, const Endpoint* local,
                        int timeout_ms, Socket* out) {
  Socket s(::socket(remote.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC,
                    IPPROTO_TCP));
  if (!s.valid()) return ConnectErrno(errno);
  if (local != nullptr) {
    Endpoint bind_to = *local;
    bind_to.set_port(0);
    if (::bind(s.fd(), reinterpret_cast<const sockaddr*>(&bind_to.storage),
               bind_to.length) != 0)
      return ConnectErrno(errno);
  }
  const Clock::time_point deadline = DeadlineAfter(timeout_ms);
  if (::connect(s.fd(), reinterpret_cast<const sockaddr*>(&remote.storage),
                remote.length) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return ConnectErrno(errno);
    int ready = WaitUntil(s.fd(), POLLOUT, deadline);
    if (ready == 0) return ERROR_INTERNET_TIMEOUT;
    if (ready < 0) return ConnectErrno(errno);
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(s.fd(), SOL_SOCKET, SO_ERROR, &err, &len) != 0)
      return ConnectErrno(errno);
    if (err != 0) return ConnectErrno(err);
  }
  *out = std::move(s);
  return 0;
}

DWORD Socket::Listen(const Endpoint& local, Socket* out) {
  Socket s(::socket(local.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC,
                    IPPROTO_TCP));
  if (!s.valid()) return ConnectErrno(errno);
  Endpoint bind_to = local;
  bind_to.set_port(0);
  if (::bind(s.fd(), reinterpret_cast<const sockaddr*>(&bind_to.storage),
             bind_to.length) != 0 ||
      ::listen(s.fd(), 1) != 0)
    return ConnectErrno(errno);
  *out = std::move(s);
  return 0;
}

DWORD Socket::Accept(int timeout_ms, const Endpoint& allowed_peer,
                     Socket* out) {
  const Clock::time_point deadline = DeadlineAfter(timeout_ms);
  for (;;) {
    int ready = WaitUntil(fd_, POLLIN, deadline);
    if (ready == 0) return ERROR_INTERNET_TIMEOUT;
    if (ready < 0) return NetworkError(errno);
    Endpoint peer;
    peer.length = sizeof peer.storage;
    int fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer.storage),
                       &peer.length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ||
          errno == ECONNABORTED || errno == EPROTO)
        continue;
      return NetworkError(errno);
    }
    Socket accepted(fd);
    // A data connection from any host but the server's is refused: nobody
    // else may feed a download or take an upload.
    if (!peer.SameHost(allowed_peer)) continue;
    *out = std::move(accepted);
    return 0;
  }
}

DWORD NetworkError(int err) {
  switch (err) {
    case ECONNRESET:
    case EPIPE:
      return ERROR_INTERNET_CONNECTION_RESET;
    case ETIMEDOUT:
      return ERROR_INTERNET_TIMEOUT;
    case ENOMEM:
    case ENOBUFS:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_INTERNET_CONNECTION_ABORTED;
  }
}

DWORD Socket::WaitReady(short events, int timeout_ms) {
  const int ready = WaitUntil(fd_, events, DeadlineAfter(timeout_ms));
  if (ready == 0) return ERROR_INTERNET_TIMEOUT;
  if (ready < 0) return NetworkError(errno);
  return 0;
}

DWORD Socket::SendAll(const char* data, size_t size, int timeout_ms) {
  while (size > 0) {
    ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      int ready = WaitUntil(fd_, POLLOUT, DeadlineAfter(timeout_ms));
      if (ready == 0) return ERROR_INTERNET_TIMEOUT;
      if (ready < 0) return NetworkError(errno);
      continue;
    }
    return NetworkError(n < 0 ? errno : EPIPE);
  }
  return 0;
}

DWORD Socket::Recv(char* buffer, size_t size, int timeout_ms, size_t* got) {
  *got = 0;
  const Clock::time_point deadline = DeadlineAfter(timeout_ms);
  for (;;) {
    ssize_t n = ::recv(fd_, buffer, size, 0);
    if (n >= 0) {
      *got = static_cast<size_t>(n);
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return NetworkError(errno);
    int ready = WaitUntil(fd_, POLLIN, deadline);
    if (ready == 0) return ERROR_INTERNET_TIMEOUT;
    if (ready < 0) return NetworkError(errno);
  }
}

DWORD Socket::LocalEndpoint(Endpoint* out) const {
  out->length = sizeof out->storage;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&out->storage),
                    &out->length) != 0)
    return NetworkError(errno);
  return 0;
}

DWORD Socket::PeerEndpoint(Endpoint* out) const {
  out->length = sizeof out->storage;
  if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&out->storage),
                    &out->length) != 0)
    return NetworkError(errno);
  return 0;
}

void Socket::ShutdownWrite() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

}  // namespace inet
