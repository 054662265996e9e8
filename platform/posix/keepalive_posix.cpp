// TCP keepalive on a POSIX socket: SO_KEEPALIVE with the idle time, the
// interval and the number of probes that may go unanswered.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/errors.h"
#include "platform/posix/posix_file.h"
#include "platform/posix/socket_stream.h"

namespace platform {
namespace {

// Unanswered probes before the system gives the connection up.
constexpr int kKeepAliveProbes = 4;

bool SetInt(int fd, int level, int name, int value) {
  return ::setsockopt(fd, level, name, &value, sizeof value) == 0;
}

}  // namespace

uint32_t SocketStream::SetKeepAlive(int idle_s, int interval_s) {
  if (fd_ < 0) return ERROR_INTERNET_CONNECTION_ABORTED;
  if (!SetInt(fd_, SOL_SOCKET, SO_KEEPALIVE, 1)) return NetworkErrno(errno);
#if defined(TCP_KEEPIDLE)
  if (!SetInt(fd_, IPPROTO_TCP, TCP_KEEPIDLE, idle_s)) return NetworkErrno(errno);
#elif defined(TCP_KEEPALIVE)
  if (!SetInt(fd_, IPPROTO_TCP, TCP_KEEPALIVE, idle_s))
    return NetworkErrno(errno);
#endif
#if defined(TCP_KEEPINTVL)
  if (!SetInt(fd_, IPPROTO_TCP, TCP_KEEPINTVL, interval_s))
    return NetworkErrno(errno);
#endif
#if defined(TCP_KEEPCNT)
  if (!SetInt(fd_, IPPROTO_TCP, TCP_KEEPCNT, kKeepAliveProbes))
    return NetworkErrno(errno);
#endif
  (void)idle_s;
  (void)interval_s;
  return 0;
}

}  // namespace platform
