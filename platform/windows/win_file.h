// The Windows implementation's own pieces shared by its files: an open file
// over a file HANDLE, and the error numbers of failed system calls.
#ifndef ZORVEX_PLATFORM_WINDOWS_WIN_FILE_H_
#define ZORVEX_PLATFORM_WINDOWS_WIN_FILE_H_

#include <cstddef>
#include <cstdint>

#include "platform/file.h"

namespace platform {

// The error number for a failed file call's GetLastError(): the system's own
// number where the platform knows it (2, 3, 5, 32, 112, ...), its usual
// equivalent for a few others (39 disk full as 112, 15 no such drive as 3),
// `otherwise` for the rest.
uint32_t FileError(unsigned long error, uint32_t otherwise);

// The error number for a failed socket call's WSAGetLastError() (a reset, a
// timeout, or otherwise an aborted connection).
uint32_t NetworkError(int error);

class WinFile : public File {
 public:
  // Takes ownership of `handle` (a HANDLE's value).
  explicit WinFile(void* handle) : handle_(handle) {}
  ~WinFile() override;
  WinFile(const WinFile&) = delete;
  WinFile& operator=(const WinFile&) = delete;

  uint32_t Read(char* buffer, size_t size, size_t* got) override;
  uint32_t Write(const char* data, size_t size) override;
  uint32_t Sync() override;
  uint32_t Close() override;
  uint32_t Position(uint64_t* offset) const override;
  uint32_t Seek(uint64_t offset) override;
  uint32_t Truncate() override;
  uint32_t Size(uint64_t* size) const override;
  intptr_t NativeHandle() const override;

 private:
  void* handle_;
};

}  // namespace platform

#endif  // ZORVEX_PLATFORM_WINDOWS_WIN_FILE_H_
