// The plain TCP Stream over a Winsock 2 socket (non-blocking; every wait is
// a select() bounded by the caller's timeout and cut short by the user's
// interruption). SendFile sends a regular file with TransmitFile, so that
// its bytes do not pass through the program, and copies where the file or
// the socket does not take it; ReceiveFile copies through Read.
#ifndef ZORVEX_PLATFORM_WINDOWS_SOCKET_STREAM_WINDOWS_H_
#define ZORVEX_PLATFORM_WINDOWS_SOCKET_STREAM_WINDOWS_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/address.h"
#include "platform/stream.h"

namespace platform {

// A socket's value (SOCKET), without the Winsock headers.
using SocketHandle = uintptr_t;

enum class Readiness { kRead, kWrite, kConnect };

// Waits until `socket` is ready (readable; writable; a connect that ended,
// well or not): 0, 12002 when `timeout_ms` passes first, 1223 when the user
// interrupts the run, or the network error.
uint32_t WaitReady(SocketHandle socket, Readiness readiness, int timeout_ms);

class SocketStream : public Stream {
 public:
  explicit SocketStream(SocketHandle socket) : socket_(socket) {}
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

  SocketHandle socket() const { return socket_; }

 private:
  SocketHandle socket_;
};

// The Env's network calls (Env::Connect, ConnectTo, Listen).
uint32_t TcpConnect(const std::string& host, uint16_t port, int timeout_ms,
                    std::unique_ptr<Stream>* out);
uint32_t TcpConnectTo(const Address& remote, const Address* local,
                      int timeout_ms, std::unique_ptr<Stream>* out);
uint32_t TcpListen(const Address& local, std::unique_ptr<Listener>* out);

}  // namespace platform

#endif  // ZORVEX_PLATFORM_WINDOWS_SOCKET_STREAM_WINDOWS_H_
