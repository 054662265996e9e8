// The plain socket's file paths: sendfile(2) for uploads, on a socket that
// blocks for the time of the transfer, splice(2) through a pipe for
// downloads, so that no file byte passes through the program; a file or
// socket that does not take them is copied through Stream's loops. An
// upload to a server on this machine is copied on purpose (SendCopying).
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/deadline.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/posix/interrupt_posix.h"
#include "platform/posix/posix_file.h"
#include "platform/posix/socket_stream.h"

namespace platform {
namespace {

constexpr size_t kCopyBuffer = 64 * 1024;
// One write of an upload to a server on this machine: one loopback packet.
constexpr size_t kLocalWrite = 64 * 1024;
// The most one sendfile(2) call is asked to move: between calls the sender
// checks for an interruption.
constexpr size_t kSendChunk = size_t{1} << 20;
// The longest one blocked sendfile(2) call waits for room.
constexpr int kWaitSliceMs = 200;
// The bytes a sending socket may hold that TCP has not sent yet.
constexpr int kUnsentLowWater = 16 * 1024;
// The pipe between the socket and the file, when the system grants it.
constexpr int kPipeSize = 1 << 20;

// A socket error on a call that touches both a file and a socket.
bool IsSocketErrno(int err) {
  return err == EPIPE || err == ECONNRESET || err == ENOTCONN ||
         err == ETIMEDOUT || err == ECONNABORTED;
}

// sendfile(2) has no MSG_NOSIGNAL: while it runs, SIGPIPE is blocked for
// this thread, and one it raised is taken off the pending set before the old
// mask returns, so a peer that goes away gives an error code, never a signal.
class SigpipeSuppressed {
 public:
  SigpipeSuppressed() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
  }
  ~SigpipeSuppressed() {
    sigset_t pending;
    if (!was_pending_ && sigpending(&pending) == 0 &&
        sigismember(&pending, SIGPIPE) == 1) {
      const timespec now{0, 0};
      while (sigtimedwait(&pipe_, nullptr, &now) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  SigpipeSuppressed(const SigpipeSuppressed&) = delete;
  SigpipeSuppressed& operator=(const SigpipeSuppressed&) = delete;

 private:
  sigset_t pipe_;
  sigset_t old_;
  bool was_pending_ = false;
};

// While a file is sent, the socket blocks: sendfile(2) or write(2) waits
// for room in the kernel and goes on where it stopped, with no EAGAIN, poll
// and new call in between. Each blocked call waits at most kWaitSliceMs, so
// that the caller checks for an interruption and its own timeout between
// waits. kZeroCopy keeps the queue of bytes not yet sent under
// kUnsentLowWater: the sender hands the next pages to TCP itself as soon as
// the peer acknowledges earlier ones, instead of that work falling to the
// receiver's side on loopback. kCopying turns Nagle's delay off, so that
// each write leaves at once as one packet. The socket's own settings come
// back at the end. Where the blocking mode cannot be set, on() is false and
// the caller polls.
class BlockingSends {
 public:
  enum Mode { kZeroCopy, kCopying };
  BlockingSends(int fd, Mode mode) : fd_(fd) {
    flags_ = ::fcntl(fd_, F_GETFL);
    socklen_t len = sizeof old_timeout_;
    if (flags_ < 0 || ::getsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &old_timeout_,
                                   &len) != 0)
      return;
    const timeval slice{0, kWaitSliceMs * 1000};
    if (::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &slice, sizeof slice) != 0)
      return;
    if (::fcntl(fd_, F_SETFL, flags_ & ~O_NONBLOCK) != 0) {
      ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &old_timeout_,
                   sizeof old_timeout_);
      return;
    }
    on_ = true;
    const int option = mode == kZeroCopy ? TCP_NOTSENT_LOWAT : TCP_NODELAY;
    const int value = mode == kZeroCopy ? kUnsentLowWater : 1;
    len = sizeof old_value_;
    if (::getsockopt(fd_, IPPROTO_TCP, option, &old_value_, &len) == 0 &&
        ::setsockopt(fd_, IPPROTO_TCP, option, &value, sizeof value) == 0)
      option_ = option;
  }
  ~BlockingSends() { End(); }
  // Gives the socket its own settings back (once).
  void End() {
    if (!on_) return;
    on_ = false;
    if (option_ != 0)
      ::setsockopt(fd_, IPPROTO_TCP, option_, &old_value_, sizeof old_value_);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &old_timeout_,
                 sizeof old_timeout_);
    ::fcntl(fd_, F_SETFL, flags_);
  }
  BlockingSends(const BlockingSends&) = delete;
  BlockingSends& operator=(const BlockingSends&) = delete;

  bool on() const { return on_; }

 private:
  int fd_;
  int flags_ = -1;
  timeval old_timeout_{};
  int option_ = 0;  // the TCP option set for the transfer, 0 for none
  int old_value_ = 0;
  bool on_ = false;
};

}  // namespace

bool PeerOnThisMachine(int fd) {
  sockaddr_storage peer{}, local{};
  socklen_t peer_len = sizeof peer, local_len = sizeof local;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_len) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_len) != 0 ||
      peer.ss_family != local.ss_family)
    return false;
  if (peer.ss_family == AF_INET) {
    const in_addr& p = reinterpret_cast<const sockaddr_in&>(peer).sin_addr;
    const in_addr& l = reinterpret_cast<const sockaddr_in&>(local).sin_addr;
    return (ntohl(p.s_addr) >> 24) == 127 || p.s_addr == l.s_addr;
  }
  if (peer.ss_family == AF_INET6) {
    const in6_addr& p = reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr;
    const in6_addr& l = reinterpret_cast<const sockaddr_in6&>(local).sin6_addr;
    if (IN6_IS_ADDR_LOOPBACK(&p)) return true;
    if (IN6_IS_ADDR_V4MAPPED(&p) && p.s6_addr[12] == 127) return true;
    return std::memcmp(&p, &l, sizeof p) == 0;
  }
  return false;
}

namespace {

// Sends the rest of the file `fd` on the blocking socket `sock` through a
// buffer of the program's own, one packet a write. For a server on this
// machine that is faster than sendfile(2), though it costs this side a
// copy: the server is the slower end, and it receives the very buffers this
// side queues. Pages of the file handed over by sendfile(2) reach it as many
// small pieces, each copied and released on its own; a copy reaches it in a
// few large ones.
uint32_t SendCopying(int sock, int fd, int timeout_ms) {
  std::vector<char> buf(kLocalWrite);
  // A peer that takes nothing for `timeout_ms` times the transfer out.
  Deadline deadline(timeout_ms);
  for (;;) {
    if (Interrupted()) return ERROR_CANCELLED;
    const ssize_t got = ::read(fd, buf.data(), buf.size());
    if (got == 0) return 0;  // end of file
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_READ_FAULT;
    }
    size_t done = 0;
    while (done < static_cast<size_t>(got)) {
      const ssize_t n = ::send(sock, buf.data() + done,
                               static_cast<size_t>(got) - done, MSG_NOSIGNAL);
      if (n > 0) {
        done += static_cast<size_t>(n);
        deadline = Deadline(timeout_ms);
        continue;
      }
      const int err = n < 0 ? errno : EPIPE;
      if (err != EINTR && err != EAGAIN && err != EWOULDBLOCK)
        return NetworkErrno(err);
      if (Interrupted()) return ERROR_CANCELLED;
      if (err != EINTR && deadline.LeftMs() == 0) return ERROR_INTERNET_TIMEOUT;
    }
  }
}

struct Pipe {
  int fds[2] = {-1, -1};
  ~Pipe() {
    if (fds[0] >= 0) ::close(fds[0]);
    if (fds[1] >= 0) ::close(fds[1]);
  }
  bool Open() { return ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0; }
};

// Empties `bytes` bytes of the pipe into the file with read and write, for a
// file that does not take splice.
uint32_t DrainPipeCopying(int pipe_fd, int fd, size_t bytes) {
  std::vector<char> buf(kCopyBuffer);
  while (bytes > 0) {
    const ssize_t n = ::read(pipe_fd, buf.data(), std::min(bytes, buf.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return ERROR_WRITE_FAULT;
    if (uint32_t e = WriteAll(fd, buf.data(), static_cast<size_t>(n))) return e;
    bytes -= static_cast<size_t>(n);
  }
  return 0;
}

}  // namespace

uint32_t SocketStream::SendFile(File& file, int timeout_ms) {
  const int fd = static_cast<int>(file.NativeHandle());
  if (fd < 0 || fd_ < 0) return Stream::SendFile(file, timeout_ms);
  const bool copying =
      upload_path_ == UploadPath::kCopying ||
      (upload_path_ == UploadPath::kChosen && PeerOnThisMachine(fd_));
  if (copying) {
    BlockingSends blocking(fd_, BlockingSends::kCopying);
    if (blocking.on()) return SendCopying(fd_, fd, timeout_ms);
  }
  SigpipeSuppressed no_sigpipe;
  BlockingSends blocking(fd_, BlockingSends::kZeroCopy);
  // A peer that takes nothing for `timeout_ms` times the transfer out.
  Deadline deadline(timeout_ms);
  bool sent_any = false;
  for (;;) {
    if (Interrupted()) return ERROR_CANCELLED;
    const ssize_t n = ::sendfile(fd_, fd, nullptr, kSendChunk);
    if (n > 0) {
      sent_any = true;
      deadline = Deadline(timeout_ms);
      continue;
    }
    if (n == 0) return 0;  // end of file
    const int err = errno;
    if (err == EINTR) continue;
    if (err == EAGAIN || err == EWOULDBLOCK) {
      if (!blocking.on()) {
        if (uint32_t e = WaitReady(fd_, POLLOUT, timeout_ms)) return e;
      } else if (deadline.LeftMs() == 0) {
        return ERROR_INTERNET_TIMEOUT;
      }
      continue;
    }
    if ((err == EINVAL || err == ENOSYS) && !sent_any) {
      blocking.End();
      return Stream::SendFile(file, timeout_ms);
    }
    if (IsSocketErrno(err)) return NetworkErrno(err);
    return err == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_READ_FAULT;
  }
}

uint32_t SocketStream::ReceiveFile(File& file, int timeout_ms,
                                   uint64_t* received) {
  const int fd = static_cast<int>(file.NativeHandle());
  Pipe pipe;
  if (fd < 0 || fd_ < 0 || !pipe.Open())
    return Stream::ReceiveFile(file, timeout_ms, received);
  int capacity = ::fcntl(pipe.fds[1], F_SETPIPE_SZ, kPipeSize);
  if (capacity <= 0) capacity = ::fcntl(pipe.fds[1], F_GETPIPE_SZ);
  if (capacity <= 0) capacity = 64 * 1024;
  for (;;) {
    // The pipe is empty here, so EAGAIN means the socket has nothing yet.
    const ssize_t n = ::splice(fd_, nullptr, pipe.fds[1], nullptr,
                               static_cast<size_t>(capacity),
                               SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    if (n == 0) return 0;  // the peer closed the connection
    if (n < 0) {
      const int err = errno;
      if (err == EINTR) continue;
      if (err == EAGAIN || err == EWOULDBLOCK) {
        if (uint32_t e = WaitReady(fd_, POLLIN, timeout_ms)) return e;
        continue;
      }
      if (err == EINVAL && *received == 0)
        return Stream::ReceiveFile(file, timeout_ms, received);
      return NetworkErrno(err);
    }
    *received += static_cast<uint64_t>(n);
    size_t left = static_cast<size_t>(n);
    while (left > 0) {
      const ssize_t w =
          ::splice(pipe.fds[0], nullptr, fd, nullptr, left, SPLICE_F_MOVE);
      if (w > 0) {
        left -= static_cast<size_t>(w);
        continue;
      }
      if (w < 0 && errno == EINTR) continue;
      if (w < 0 && errno == EINVAL) {
        // The file system does not take splice: copy from here on.
        if (uint32_t e = DrainPipeCopying(pipe.fds[0], fd, left)) return e;
        return Stream::ReceiveFile(file, timeout_ms, received);
      }
      return FileErrno(w < 0 ? errno : EIO, ERROR_WRITE_FAULT);
    }
  }
}

}  // namespace platform
