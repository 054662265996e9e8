// The plain TCP Stream over a POSIX socket descriptor (non-blocking; every
// wait is a poll(2) bounded by the caller's timeout). Writes never raise
// SIGPIPE. SendFile and ReceiveFile move a regular file's bytes with
// sendfile(2) and splice(2), without copying them through the program, and
// fall back to copying where the file or the socket does not take them.
// SendFile lets the socket block for the time of the transfer, each wait
// sliced short so that an interruption still ends it at once and a peer that
// takes nothing for the timeout still times it out. To a peer on this
// machine it sends through a buffer instead, which that peer takes faster.
#ifndef ZORVEX_PLATFORM_POSIX_SOCKET_STREAM_H_
#define ZORVEX_PLATFORM_POSIX_SOCKET_STREAM_H_

#include <cstdint>

#include "platform/stream.h"

namespace platform {

// Waits until `fd` is ready for `events` (POLLIN, POLLOUT): 0, 12002 when
// `timeout_ms` passes first, or the network error.
uint32_t WaitReady(int fd, short events, int timeout_ms);

// Whether the peer of the connected socket `fd` runs on this machine: a
// loopback address, or the socket's own address.
bool PeerOnThisMachine(int fd);

class SocketStream : public Stream {
 public:
  explicit SocketStream(int fd) : fd_(fd) {}
  ~SocketStream() override { Close(); }
  SocketStream(const SocketStream&) = delete;
  SocketStream& operator=(const SocketStream&) = delete;

  uint32_t Read(char* buffer, size_t size, int timeout_ms,
                size_t* got) override;
  uint32_t Write(const char* data, size_t size, int timeout_ms) override;
  uint32_t Shutdown(int timeout_ms) override;
  void Close() override;
  Address PeerAddress() const override;
  Address LocalAddress() const override;
  uint32_t SetKeepAlive(int idle_s, int interval_s) override;
  uint32_t SendFile(File& file, int timeout_ms) override;
  uint32_t ReceiveFile(File& file, int timeout_ms,
                       uint64_t* received) override;

  int fd() const { return fd_; }

  // How SendFile moves a regular file: kChosen copies to a peer on this
  // machine and uses sendfile(2) for any other; the others force one way.
  enum class UploadPath { kChosen, kZeroCopy, kCopying };
  void set_upload_path(UploadPath path) { upload_path_ = path; }

 private:
  int fd_;
  UploadPath upload_path_ = UploadPath::kChosen;
};

}  // namespace platform

#endif  // ZORVEX_PLATFORM_POSIX_SOCKET_STREAM_H_
