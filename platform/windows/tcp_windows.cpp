// TCP connections on Winsock 2: the plain Stream, the Listener, and the
// connect calls of the Env.
#include "platform/windows/socket_stream_windows.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/deadline.h"
#include "platform/errors.h"
#include "platform/windows/interrupt_windows.h"
#include "platform/windows/win_file.h"
#include "platform/windows/win_text.h"

// After the platform's headers, whose names the system's macros would hide;
// Winsock 2 before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

namespace platform {
namespace {

// Winsock is started once, on the first use of a socket, and stays up for
// the life of the process.
uint32_t StartWinsock() {
  static std::once_flag once;
  static int result = 0;
  std::call_once(once, [] {
    WSADATA data;
    result = ::WSAStartup(MAKEWORD(2, 2), &data);
  });
  return result == 0 ? 0 : ERROR_INTERNET_INTERNAL_ERROR;
}

constexpr int kInterrupted = -2;

// Waits until `s` is ready, the deadline passes or the user interrupts the
// run. Returns 1 ready, 0 timed out, -1 error (in *error), kInterrupted.
int WaitUntil(SOCKET s, Readiness readiness, const Deadline& deadline,
              int* error) {
  for (;;) {
    if (WaitsCancelled()) return kInterrupted;
    const int left = deadline.LeftMs();
    const int slice = std::min(left, kInterruptSliceMs);
    fd_set read_set, write_set, error_set;
    FD_ZERO(&read_set);
    FD_ZERO(&write_set);
    FD_ZERO(&error_set);
    if (readiness == Readiness::kRead) FD_SET(s, &read_set);
    if (readiness != Readiness::kRead) FD_SET(s, &write_set);
    // A connect that fails shows in the exception set.
    if (readiness == Readiness::kConnect) FD_SET(s, &error_set);
    timeval tv{slice / 1000, (slice % 1000) * 1000};
    const int rc = ::select(0, &read_set, &write_set, &error_set, &tv);
    if (rc > 0) return 1;
    if (rc == SOCKET_ERROR) {
      *error = ::WSAGetLastError();
      if (*error == WSAEINTR) continue;
      return -1;
    }
    if (left == 0) return 0;
  }
}

// The error number of a failed wait: 12002 when it timed out, 1223 when the
// user interrupted it, else the network error.
uint32_t WaitError(int ready, int error, uint32_t (*from_error)(int)) {
  if (ready == 0) return ERROR_INTERNET_TIMEOUT;
  if (ready == kInterrupted) return ERROR_CANCELLED;
  return from_error(error);
}

uint32_t ConnectError(int error) {
  switch (error) {
    case WSAETIMEDOUT:
      return ERROR_INTERNET_TIMEOUT;
    case WSAENOBUFS:
    case WSA_NOT_ENOUGH_MEMORY:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:  // refused, unreachable, no route, address unavailable
      return ERROR_INTERNET_CANNOT_CONNECT;
  }
}

struct SocketAddress {
  sockaddr_storage storage{};
  int length = 0;
  const sockaddr* get() const {
    return reinterpret_cast<const sockaddr*>(&storage);
  }
};

SocketAddress ToSocketAddress(const Address& address) {
  SocketAddress out;
  if (address.family == Address::Family::kIPv4) {
    auto* in = reinterpret_cast<sockaddr_in*>(&out.storage);
    in->sin_family = AF_INET;
    in->sin_port = ::htons(address.port);
    std::memcpy(&in->sin_addr, address.bytes.data(), 4);
    out.length = sizeof(sockaddr_in);
  } else if (address.family == Address::Family::kIPv6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&out.storage);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = ::htons(address.port);
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
    out.port = ::ntohs(in->sin_port);
    std::memcpy(out.bytes.data(), &in->sin_addr, 4);
  } else if (storage.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&storage);
    out.family = Address::Family::kIPv6;
    out.port = ::ntohs(in6->sin6_port);
    out.scope_id = in6->sin6_scope_id;
    std::memcpy(out.bytes.data(), &in6->sin6_addr, 16);
  }
  return out;
}

// The address a socket call (getsockname, getpeername) reports for `s`.
Address SocketName(SocketHandle s, int(WSAAPI* call)(SOCKET, sockaddr*, int*)) {
  sockaddr_storage storage{};
  int length = sizeof storage;
  if (s == INVALID_SOCKET ||
      call(s, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
    return Address();
  return FromSocketAddress(storage);
}

// A socket closed when it goes out of scope unless released.
class OwnedSocket {
 public:
  explicit OwnedSocket(SOCKET s) : s_(s) {}
  ~OwnedSocket() {
    if (s_ != INVALID_SOCKET) ::closesocket(s_);
  }
  OwnedSocket(const OwnedSocket&) = delete;
  OwnedSocket& operator=(const OwnedSocket&) = delete;
  SOCKET get() const { return s_; }
  SOCKET release() { return std::exchange(s_, INVALID_SOCKET); }

 private:
  SOCKET s_;
};

bool SetNonBlocking(SOCKET s) {
  u_long on = 1;
  return ::ioctlsocket(s, FIONBIO, &on) == 0;
}

// A non-blocking TCP socket that child processes do not inherit, able to
// take overlapped calls (TransmitFile); *error is set on failure.
SOCKET NewSocket(const Address& address, int* error) {
  const int family = address.ipv6() ? AF_INET6 : AF_INET;
  SOCKET s = ::WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET && ::WSAGetLastError() == WSAEINVAL) {
    // A system without WSA_FLAG_NO_HANDLE_INHERIT.
    s = ::WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                     WSA_FLAG_OVERLAPPED);
  }
  if (s == INVALID_SOCKET) {
    *error = ::WSAGetLastError();
    return s;
  }
  if (!SetNonBlocking(s)) {
    *error = ::WSAGetLastError();
    ::closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

class WinListener : public Listener {
 public:
  explicit WinListener(SOCKET s) : s_(s) {}
  ~WinListener() override { ::closesocket(s_); }
  WinListener(const WinListener&) = delete;
  WinListener& operator=(const WinListener&) = delete;

  Address LocalAddress() const override {
    return SocketName(s_, ::getsockname);
  }

  uint32_t Accept(int timeout_ms, const Address& allowed_peer,
                  std::unique_ptr<Stream>* out) override {
    const Deadline deadline(timeout_ms);
    for (;;) {
      int error = 0;
      const int ready = WaitUntil(s_, Readiness::kRead, deadline, &error);
      if (ready != 1) return WaitError(ready, error, NetworkError);
      sockaddr_storage peer{};
      int length = sizeof peer;
      OwnedSocket s(::accept(s_, reinterpret_cast<sockaddr*>(&peer), &length));
      if (s.get() == INVALID_SOCKET) {
        error = ::WSAGetLastError();
        if (error == WSAEWOULDBLOCK || error == WSAEINTR ||
            error == WSAECONNRESET || error == WSAECONNABORTED)
          continue;
        return NetworkError(error);
      }
      // A data connection from any host but the server's is refused: nobody
      // else may feed a download or take an upload.
      if (!FromSocketAddress(peer).SameHost(allowed_peer)) continue;
      if (!SetNonBlocking(s.get())) return NetworkError(::WSAGetLastError());
      *out = std::make_unique<SocketStream>(s.release());
      return 0;
    }
  }

 private:
  SOCKET s_;
};

}  // namespace

uint32_t WaitReady(SocketHandle socket, Readiness readiness, int timeout_ms) {
  int error = 0;
  const int ready =
      WaitUntil(socket, readiness, Deadline(timeout_ms), &error);
  return ready == 1 ? 0 : WaitError(ready, error, NetworkError);
}

uint32_t SocketStream::Read(char* buffer, size_t size, int timeout_ms,
                            size_t* got) {
  *got = 0;
  if (socket_ == INVALID_SOCKET) return ERROR_INTERNET_CONNECTION_ABORTED;
  const Deadline deadline(timeout_ms);
  const int len = static_cast<int>(std::min<size_t>(size, INT_MAX));
  for (;;) {
    const int n = ::recv(socket_, buffer, len, 0);
    if (n >= 0) {
      *got = static_cast<size_t>(n);
      return 0;
    }
    int error = ::WSAGetLastError();
    if (error == WSAEINTR) continue;
    if (error != WSAEWOULDBLOCK) return NetworkError(error);
    const int ready = WaitUntil(socket_, Readiness::kRead, deadline, &error);
    if (ready != 1) return WaitError(ready, error, NetworkError);
  }
}

uint32_t SocketStream::Write(const char* data, size_t size, int timeout_ms) {
  if (socket_ == INVALID_SOCKET) return ERROR_INTERNET_CONNECTION_ABORTED;
  while (size > 0) {
    const int len = static_cast<int>(std::min<size_t>(size, INT_MAX));
    const int n = ::send(socket_, data, len, 0);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    const int error = n < 0 ? ::WSAGetLastError() : WSAECONNABORTED;
    if (error == WSAEINTR) continue;
    if (error == WSAEWOULDBLOCK) {
      if (uint32_t e = WaitReady(socket_, Readiness::kWrite, timeout_ms))
        return e;
      continue;
    }
    return NetworkError(error);
  }
  return 0;
}

uint32_t SocketStream::Shutdown(int) {
  if (socket_ == INVALID_SOCKET) return ERROR_INTERNET_CONNECTION_ABORTED;
  if (::shutdown(socket_, SD_SEND) != 0) {
    const int error = ::WSAGetLastError();
    if (error != WSAENOTCONN) return NetworkError(error);
  }
  return 0;
}

void SocketStream::Close() {
  if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
  socket_ = INVALID_SOCKET;
}

Address SocketStream::PeerAddress() const {
  return SocketName(socket_, ::getpeername);
}

Address SocketStream::LocalAddress() const {
  return SocketName(socket_, ::getsockname);
}

uint32_t TcpConnect(const std::string& host, uint16_t port, int timeout_ms,
                    std::unique_ptr<Stream>* out) {
  if (uint32_t e = StartWinsock()) return e;
  std::wstring name;
  if (host.empty() || !AnsiToWide(host, &name))
    return ERROR_INTERNET_NAME_NOT_RESOLVED;
  ADDRINFOW hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  ADDRINFOW* list = nullptr;
  const std::wstring service = std::to_wstring(port);
  const int rc = ::GetAddrInfoW(name.c_str(), service.c_str(), &hints, &list);
  if (rc != 0) {
    if (rc == WSA_NOT_ENOUGH_MEMORY || rc == EAI_MEMORY)
      return ERROR_NOT_ENOUGH_MEMORY;
    return ERROR_INTERNET_NAME_NOT_RESOLVED;
  }
  const Deadline deadline(timeout_ms);
  uint32_t error = ERROR_INTERNET_CANNOT_CONNECT;
  for (ADDRINFOW* ai = list; ai != nullptr; ai = ai->ai_next) {
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
  ::FreeAddrInfoW(list);
  return error;
}

uint32_t TcpConnectTo(const Address& remote, const Address* local,
                      int timeout_ms, std::unique_ptr<Stream>* out) {
  if (uint32_t e = StartWinsock()) return e;
  int error = 0;
  OwnedSocket s(NewSocket(remote, &error));
  if (s.get() == INVALID_SOCKET) return ConnectError(error);
  if (local != nullptr) {
    Address bind_to = *local;
    bind_to.port = 0;
    const SocketAddress sa = ToSocketAddress(bind_to);
    if (::bind(s.get(), sa.get(), sa.length) != 0)
      return ConnectError(::WSAGetLastError());
  }
  const Deadline deadline(timeout_ms);
  const SocketAddress sa = ToSocketAddress(remote);
  if (::connect(s.get(), sa.get(), sa.length) != 0) {
    error = ::WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return ConnectError(error);
    const int ready = WaitUntil(s.get(), Readiness::kConnect, deadline, &error);
    if (ready != 1) return WaitError(ready, error, ConnectError);
    int so_error = 0;
    int len = sizeof so_error;
    if (::getsockopt(s.get(), SOL_SOCKET, SO_ERROR,
                     reinterpret_cast<char*>(&so_error), &len) != 0)
      return ConnectError(::WSAGetLastError());
    if (so_error != 0) return ConnectError(so_error);
    // Connected only when the socket has a peer.
    if (SocketName(s.get(), ::getpeername).family == Address::Family::kNone)
      return ERROR_INTERNET_CANNOT_CONNECT;
  }
  *out = std::make_unique<SocketStream>(s.release());
  return 0;
}

uint32_t TcpListen(const Address& local, std::unique_ptr<Listener>* out) {
  if (uint32_t e = StartWinsock()) return e;
  int error = 0;
  OwnedSocket s(NewSocket(local, &error));
  if (s.get() == INVALID_SOCKET) return ConnectError(error);
  // No other socket may bind the same port and take the server's
  // connection.
  BOOL exclusive = TRUE;
  ::setsockopt(s.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
  Address bind_to = local;
  bind_to.port = 0;
  const SocketAddress sa = ToSocketAddress(bind_to);
  // A few pending connections, so that a foreign one that comes first does
  // not push the server's out of the queue.
  if (::bind(s.get(), sa.get(), sa.length) != 0 || ::listen(s.get(), 4) != 0)
    return ConnectError(::WSAGetLastError());
  *out = std::make_unique<WinListener>(s.release());
  return 0;
}

}  // namespace platform
