// TCP connections on POSIX sockets: the plain Stream, the Listener, and the
// connect calls of the Env.
#ifndef ZORVEX_PLATFORM_POSIX_TCP_POSIX_H_
#define ZORVEX_PLATFORM_POSIX_TCP_POSIX_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/address.h"
#include "platform/stream.h"

namespace platform {

uint32_t TcpConnect(const std::string& host, uint16_t port, int timeout_ms,
                    std::unique_ptr<Stream>* out);
uint32_t TcpConnectTo(const Address& remote, const Address* local,
                      int timeout_ms, std::unique_ptr<Stream>* out);
uint32_t TcpListen(const Address& local, std::unique_ptr<Listener>* out);

}  // namespace platform

#endif  // ZORVEX_PLATFORM_POSIX_TCP_POSIX_H_
