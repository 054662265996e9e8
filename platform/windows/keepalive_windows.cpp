// TCP keepalive on a Winsock socket: SO_KEEPALIVE, then the idle time and
// the interval with SIO_KEEPALIVE_VALS (the system's own count of probes).
#include <cstdint>

#include "platform/errors.h"
#include "platform/windows/socket_stream_windows.h"
#include "platform/windows/win_file.h"

// After the platform's headers, whose names the system's macros would hide;
// Winsock 2 before windows.h.
#include <winsock2.h>
#include <mstcpip.h>
#include <windows.h>

namespace platform {

uint32_t SocketStream::SetKeepAlive(int idle_s, int interval_s) {
  const SOCKET s = static_cast<SOCKET>(socket_);
  if (s == INVALID_SOCKET) return ERROR_INTERNET_CONNECTION_ABORTED;
  const BOOL on = TRUE;
  if (::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE,
                   reinterpret_cast<const char*>(&on), sizeof on) != 0)
    return NetworkError(::WSAGetLastError());
  tcp_keepalive values{};
  values.onoff = 1;
  values.keepalivetime = static_cast<ULONG>(idle_s) * 1000;
  values.keepaliveinterval = static_cast<ULONG>(interval_s) * 1000;
  DWORD returned = 0;
  if (::WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0,
                 &returned, nullptr, nullptr) != 0)
    return NetworkError(::WSAGetLastError());
  return 0;
}

}  // namespace platform
