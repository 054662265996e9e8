#include "platform/windows/win_file.h"

#include <algorithm>

#include "platform/errors.h"

// After the platform's headers, whose names the system's macros would hide.
#include <winsock2.h>
#include <windows.h>

namespace platform {
namespace {

// The most one ReadFile or WriteFile call is asked to move.
constexpr size_t kMaxChunk = size_t{1} << 30;

HANDLE AsHandle(void* handle) { return static_cast<HANDLE>(handle); }

}  // namespace

uint32_t FileError(unsigned long error, uint32_t otherwise) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_NOT_READY:
    case ERROR_WRITE_FAULT:
    case ERROR_READ_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_FILE_EXISTS:
    case ERROR_INVALID_PARAMETER:
    case ERROR_OPEN_FAILED:
    case ERROR_DISK_FULL:
    case ERROR_INVALID_NAME:
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILENAME_EXCED_RANGE:
      return error;
    case ERROR_HANDLE_DISK_FULL:
      return ERROR_DISK_FULL;
    case ERROR_OUTOFMEMORY:
      return ERROR_NOT_ENOUGH_MEMORY;
    case ERROR_WRITE_PROTECT:
      return ERROR_ACCESS_DENIED;
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
      return ERROR_PATH_NOT_FOUND;
    case ERROR_BUFFER_OVERFLOW:
      return ERROR_FILENAME_EXCED_RANGE;
    default:
      return otherwise;
  }
}

uint32_t NetworkError(int error) {
  switch (error) {
    case WSAECONNRESET:
    case WSAENETRESET:
      return ERROR_INTERNET_CONNECTION_RESET;
    case WSAETIMEDOUT:
      return ERROR_INTERNET_TIMEOUT;
    case WSAENOBUFS:
    case WSA_NOT_ENOUGH_MEMORY:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_INTERNET_CONNECTION_ABORTED;
  }
}

WinFile::~WinFile() {
  if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(AsHandle(handle_));
}

uint32_t WinFile::Read(char* buffer, size_t size, size_t* got) {
  *got = 0;
  if (handle_ == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
  DWORD n = 0;
  if (!::ReadFile(AsHandle(handle_), buffer,
                  static_cast<DWORD>(std::min(size, kMaxChunk)), &n, nullptr)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) return 0;
    return FileError(error, ERROR_READ_FAULT);
  }
  *got = n;
  return 0;
}

uint32_t WinFile::Write(const char* data, size_t size) {
  if (handle_ == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
  while (size > 0) {
    DWORD n = 0;
    if (!::WriteFile(AsHandle(handle_), data,
                     static_cast<DWORD>(std::min(size, kMaxChunk)), &n,
                     nullptr))
      return FileError(::GetLastError(), ERROR_WRITE_FAULT);
    if (n == 0) return ERROR_WRITE_FAULT;
    data += n;
    size -= n;
  }
  return 0;
}

uint32_t WinFile::Sync() {
  if (handle_ == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
  return ::FlushFileBuffers(AsHandle(handle_))
             ? 0
             : FileError(::GetLastError(), ERROR_WRITE_FAULT);
}

uint32_t WinFile::Close() {
  if (handle_ == INVALID_HANDLE_VALUE) return 0;
  const BOOL ok = ::CloseHandle(AsHandle(handle_));
  handle_ = INVALID_HANDLE_VALUE;
  return ok ? 0 : FileError(::GetLastError(), ERROR_WRITE_FAULT);
}

uint32_t WinFile::Position(uint64_t* offset) const {
  *offset = 0;
  if (handle_ == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
  LARGE_INTEGER zero{}, at{};
  if (!::SetFilePointerEx(AsHandle(handle_), zero, &at, FILE_CURRENT))
    return FileError(::GetLastError(), ERROR_READ_FAULT);
  *offset = static_cast<uint64_t>(at.QuadPart);
  return 0;
}

uint32_t WinFile::Seek(uint64_t offset) {
  if (handle_ == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
  LARGE_INTEGER to{};
  to.QuadPart = static_cast<LONGLONG>(offset);
  return ::SetFilePointerEx(AsHandle(handle_), to, nullptr, FILE_BEGIN)
             ? 0
             : FileError(::GetLastError(), ERROR_READ_FAULT);
}

uint32_t WinFile::Size(uint64_t* size) const {
  *size = 0;
  if (handle_ == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
  LARGE_INTEGER n{};
  if (!::GetFileSizeEx(AsHandle(handle_), &n))
    return FileError(::GetLastError(), ERROR_READ_FAULT);
  *size = static_cast<uint64_t>(n.QuadPart);
  return 0;
}

uint32_t WinFile::Truncate() {
  if (handle_ == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
  return ::SetEndOfFile(AsHandle(handle_))
             ? 0
             : FileError(::GetLastError(), ERROR_WRITE_FAULT);
}

intptr_t WinFile::NativeHandle() const {
  return handle_ == INVALID_HANDLE_VALUE ? -1
                                         : reinterpret_cast<intptr_t>(handle_);
}

}  // namespace platform
