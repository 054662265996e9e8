// The POSIX implementation's own pieces shared by its files: an open file
// over a descriptor, and the error numbers of failed system calls.
#ifndef ZORVEX_PLATFORM_POSIX_POSIX_FILE_H_
#define ZORVEX_PLATFORM_POSIX_POSIX_FILE_H_

#include <cstddef>
#include <cstdint>

#include "platform/file.h"

namespace platform {

// The error number for a failed file call's errno (2 not found, 3 path not
// found, 5 access denied, 112 disk full, ...); `otherwise` for the rest.
uint32_t FileErrno(int err, uint32_t otherwise);

// The error number for a failed socket call's errno (a reset, a timeout, or
// otherwise an aborted connection).
uint32_t NetworkErrno(int err);

// Writes all of `data` to `fd`: 0, or the file error number.
uint32_t WriteAll(int fd, const char* data, size_t size);

class PosixFile : public File {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override;
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  uint32_t Read(char* buffer, size_t size, size_t* got) override;
  uint32_t Write(const char* data, size_t size) override;
  uint32_t Sync() override;
  uint32_t Close() override;
  uint32_t Position(uint64_t* offset) const override;
  uint32_t Seek(uint64_t offset) override;
  uint32_t Truncate() override;
  uint32_t Size(uint64_t* size) const override;
  intptr_t NativeHandle() const override { return fd_; }

 private:
  int fd_;
};

}  // namespace platform

#endif  // ZORVEX_PLATFORM_POSIX_POSIX_FILE_H_
