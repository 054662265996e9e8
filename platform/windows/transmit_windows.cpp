// The plain socket's upload path: TransmitFile, so that the file's bytes go
// from the file system to the network without passing through the program.
// It runs overlapped, one slice of the file at a time, so that each slice is
// bounded by the caller's timeout and the user's interruption cancels it; a
// file or socket that does not take it is copied through Stream's loop.
#include <algorithm>
#include <chrono>
#include <cstdint>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/windows/interrupt_windows.h"
#include "platform/windows/socket_stream_windows.h"
#include "platform/windows/win_file.h"

// After the platform's headers, whose names the system's macros would hide;
// Winsock 2 before its extensions and windows.h.
#include <winsock2.h>
#include <mswsock.h>
#include <windows.h>

namespace platform {
namespace {

// The most one TransmitFile call is asked to send: the timeout bounds each
// slice, as it bounds each wait for room in a copying loop.
constexpr uint64_t kSlice = 256 * 1024;

LPFN_TRANSMITFILE TransmitFileOf(SOCKET s) {
  GUID guid = WSAID_TRANSMITFILE;
  LPFN_TRANSMITFILE fn = nullptr;
  DWORD bytes = 0;
  if (::WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &guid, sizeof guid, &fn,
                 sizeof fn, &bytes, nullptr, nullptr) != 0)
    return nullptr;
  return fn;
}

// An event handle closed when it goes out of scope.
struct Event {
  HANDLE handle = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ~Event() {
    if (handle != nullptr) ::CloseHandle(handle);
  }
};

// Puts the socket in blocking mode while an overlapped call runs on it (an
// overlapped call never blocks), and back in non-blocking mode afterwards.
class BlockingMode {
 public:
  explicit BlockingMode(SOCKET s) : s_(s) {
    u_long off = 0;
    ok_ = ::ioctlsocket(s_, FIONBIO, &off) == 0;
  }
  ~BlockingMode() {
    u_long on = 1;
    ::ioctlsocket(s_, FIONBIO, &on);
  }
  bool ok() const { return ok_; }

 private:
  SOCKET s_;
  bool ok_;
};

enum class SliceResult { kSent, kUnsupported, kFailed };

// True when the peer has ended the connection: it sends nothing while a
// file goes to it, so a socket that turns readable with no bytes to read
// (the end of the stream, or an error) has lost its reader. The error
// number is then in *error.
bool PeerEnded(SOCKET s, uint32_t* error) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval now{0, 0};
  if (::select(0, &readable, nullptr, nullptr, &now) != 1) return false;
  char byte;
  const int n = ::recv(s, &byte, 1, MSG_PEEK);
  if (n > 0) return false;
  const int e = n == 0 ? 0 : ::WSAGetLastError();
  if (e == WSAEWOULDBLOCK) return false;
  *error = e == 0 ? ERROR_INTERNET_CONNECTION_ABORTED : NetworkError(e);
  return true;
}

// Sends `length` bytes of `file` from `offset`; *sent counts what went out.
SliceResult SendSlice(LPFN_TRANSMITFILE transmit, SOCKET s, HANDLE file,
                      uint64_t offset, uint64_t length, int timeout_ms,
                      HANDLE event, uint64_t* sent, uint32_t* error) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  ov.hEvent = event;
  ::ResetEvent(event);
  if (!transmit(s, file, static_cast<DWORD>(length), 0, &ov, nullptr, 0)) {
    const int e = ::WSAGetLastError();
    if (e != WSA_IO_PENDING && e != ERROR_IO_PENDING) {
      if (e == WSAEOPNOTSUPP || e == WSAEINVAL || e == ERROR_NOT_SUPPORTED ||
          e == ERROR_INVALID_FUNCTION)
        return SliceResult::kUnsupported;
      *error = NetworkError(e);
      return SliceResult::kFailed;
    }
  }
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(std::max(timeout_ms, 0));
  DWORD bytes = 0;
  DWORD flags = 0;
  uint32_t ended = 0;  // the peer's end, seen one slice before
  for (;;) {
    if (::WaitForSingleObject(event, kInterruptSliceMs) == WAIT_OBJECT_0) break;
    const bool late = std::chrono::steady_clock::now() >= deadline;
    // A call whose peer has gone is given one more slice to end by itself:
    // Wine's TransmitFile does not always end when the peer resets.
    uint32_t gone = 0;
    const bool peer_ended = PeerEnded(s, &gone);
    if (WaitsCancelled() || late || (peer_ended && ended != 0)) {
      // The call must have ended before `ov` goes away.
      ::CancelIoEx(reinterpret_cast<HANDLE>(s), &ov);
      ::WSAGetOverlappedResult(s, &ov, &bytes, TRUE, &flags);
      *sent += bytes;
      *error = WaitsCancelled() ? ERROR_CANCELLED
               : late        ? ERROR_INTERNET_TIMEOUT
                             : ended;
      return SliceResult::kFailed;
    }
    if (peer_ended) ended = gone;
  }
  if (!::WSAGetOverlappedResult(s, &ov, &bytes, FALSE, &flags)) {
    *sent += bytes;
    *error = NetworkError(::WSAGetLastError());
    return SliceResult::kFailed;
  }
  *sent += bytes;
  return SliceResult::kSent;
}

}  // namespace

uint32_t SocketStream::SendFile(File& file, int timeout_ms) {
  const intptr_t native = file.NativeHandle();
  if (native == -1 || socket_ == INVALID_SOCKET)
    return Stream::SendFile(file, timeout_ms);
  const HANDLE handle = reinterpret_cast<HANDLE>(native);
  LARGE_INTEGER position{}, size{};
  const LARGE_INTEGER zero{};
  LPFN_TRANSMITFILE transmit = TransmitFileOf(socket_);
  if (transmit == nullptr || ::GetFileType(handle) != FILE_TYPE_DISK ||
      !::SetFilePointerEx(handle, zero, &position, FILE_CURRENT) ||
      !::GetFileSizeEx(handle, &size))
    return Stream::SendFile(file, timeout_ms);
  Event event;
  if (event.handle == nullptr) return Stream::SendFile(file, timeout_ms);
  uint64_t offset = static_cast<uint64_t>(position.QuadPart);
  const uint64_t end = static_cast<uint64_t>(size.QuadPart);
  uint32_t error = 0;
  bool copy = false;
  {
    BlockingMode blocking(socket_);
    copy = !blocking.ok();
    while (!copy && offset < end) {
      uint64_t sent = 0;
      const SliceResult result = SendSlice(
          transmit, socket_, handle, offset, std::min(end - offset, kSlice),
          timeout_ms, event.handle, &sent, &error);
      offset += sent;
      if (result == SliceResult::kFailed) break;
      // Refused before it sent anything: the rest is copied.
      if (result == SliceResult::kUnsupported) copy = true;
      if (sent == 0 && result == SliceResult::kSent) {
        error = ERROR_READ_FAULT;  // the file ended before its size
        break;
      }
    }
  }
  // The file's offset follows what was sent, as a copying loop leaves it.
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  ::SetFilePointerEx(handle, at, nullptr, FILE_BEGIN);
  if (copy && error == 0) return Stream::SendFile(file, timeout_ms);
  return error;
}

}  // namespace platform
