// The byte streams that carry the control and data connections, and the
// listening socket of an active-mode data connection.
//
// A Stream is a connected, two-way byte stream: a plain TCP socket (made by
// the Env) or a secured stream layered over another Stream. The protocol code
// reads and writes through this interface only and never learns which kind it
// holds. Every operation returns 0 or an error number (platform/errors.h):
//   12002 timed out, 12030 connection aborted or closed mid-operation,
//   12031 connection reset, 8 out of memory; a file error (29, 30, 112, ...)
//   from SendFile and ReceiveFile.
// No operation raises a signal. A Stream is used by one thread at a time.
#ifndef ZORVEX_PLATFORM_STREAM_H_
#define ZORVEX_PLATFORM_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/address.h"

namespace platform {

class File;

class Stream {
 public:
  virtual ~Stream() = default;

  // Reads what has arrived, up to `size` bytes, waiting at most `timeout_ms`
  // for the first byte. *got = 0 means the peer ended the stream in order.
  virtual uint32_t Read(char* buffer, size_t size, int timeout_ms,
                        size_t* got) = 0;
  // Writes all of `data`; each wait for room is bounded by `timeout_ms`.
  virtual uint32_t Write(const char* data, size_t size, int timeout_ms) = 0;
  // Ends our direction in order, so that the peer reads the end of the
  // stream: nothing may be written afterwards. A secured stream sends its
  // closing message here and waits (bounded by `timeout_ms`) for the peer's.
  virtual uint32_t Shutdown(int timeout_ms) = 0;
  // Releases the connection at once; further calls fail. Idempotent.
  virtual void Close() = 0;

  virtual Address PeerAddress() const = 0;
  virtual Address LocalAddress() const = 0;

  // After Read gave the end of the stream: false when the stream could tell
  // that its end was not the peer's own (a secured stream whose peer never
  // sent its closing message), so the data may have been cut. A plain
  // socket cannot tell, and says true.
  virtual bool EndedInOrder() const { return true; }

  // Turns on TCP keepalive: the first probe after `idle_s` seconds without
  // traffic, then one every `interval_s` seconds, until a few go unanswered
  // and the connection fails. A secured stream sets it on the socket under
  // it; a stream without a socket does nothing and says 0.
  virtual uint32_t SetKeepAlive(int idle_s, int interval_s) {
    (void)idle_s;
    (void)interval_s;
    return 0;
  }

  // Sends `file` from its current offset to its end. This version copies
  // through Write; a plain socket overrides it to let the system move the
  // bytes without copying them through the program.
  virtual uint32_t SendFile(File& file, int timeout_ms);
  // Writes everything the peer sends, until it ends the stream, to `file`
  // at its current offset; *received counts the bytes taken off the stream
  // (also when the call fails). Copies through Read unless overridden.
  virtual uint32_t ReceiveFile(File& file, int timeout_ms, uint64_t* received);
};

class Listener {
 public:
  virtual ~Listener() = default;

  // The address it listens on, with the port the system chose.
  virtual Address LocalAddress() const = 0;
  // Accepts one connection from `allowed_peer`'s host, waiting at most
  // `timeout_ms` in all; a connection from any other host is closed at once
  // and the wait goes on.
  virtual uint32_t Accept(int timeout_ms, const Address& allowed_peer,
                          std::unique_ptr<Stream>* out) = 0;
};

}  // namespace platform

#endif  // ZORVEX_PLATFORM_STREAM_H_
