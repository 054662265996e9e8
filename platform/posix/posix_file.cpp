#include "platform/posix/posix_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/errors.h"

namespace platform {

uint32_t FileErrno(int err, uint32_t otherwise) {
  switch (err) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ERROR_DISK_FULL;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENODEV:
    case ENXIO:
      return ERROR_DEV_NOT_EXIST;
    default:
      return otherwise;
  }
}

uint32_t NetworkErrno(int err) {
  switch (err) {
    case ECONNRESET:
    case EPIPE:
      return ERROR_INTERNET_CONNECTION_RESET;
    case ETIMEDOUT:
      return ERROR_INTERNET_TIMEOUT;
    case ENOMEM:
    case ENOBUFS:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_INTERNET_CONNECTION_ABORTED;
  }
}

uint32_t WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FileErrno(errno, ERROR_WRITE_FAULT);
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

PosixFile::~PosixFile() {
  if (fd_ >= 0) ::close(fd_);
}

uint32_t PosixFile::Read(char* buffer, size_t size, size_t* got) {
  *got = 0;
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, size);
    if (n >= 0) {
      *got = static_cast<size_t>(n);
      return 0;
    }
    if (errno != EINTR) return FileErrno(errno, ERROR_READ_FAULT);
  }
}

uint32_t PosixFile::Write(const char* data, size_t size) {
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  return WriteAll(fd_, data, size);
}

uint32_t PosixFile::Sync() {
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  return ::fsync(fd_) == 0 ? 0 : FileErrno(errno, ERROR_WRITE_FAULT);
}

uint32_t PosixFile::Close() {
  if (fd_ < 0) return 0;
  const int rc = ::close(fd_);
  fd_ = -1;
  return rc == 0 ? 0 : FileErrno(errno, ERROR_WRITE_FAULT);
}

uint32_t PosixFile::Position(uint64_t* offset) const {
  *offset = 0;
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  const off_t at = ::lseek(fd_, 0, SEEK_CUR);
  if (at < 0) return FileErrno(errno, ERROR_READ_FAULT);
  *offset = static_cast<uint64_t>(at);
  return 0;
}

uint32_t PosixFile::Seek(uint64_t offset) {
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0
             ? FileErrno(errno, ERROR_READ_FAULT)
             : 0;
}

uint32_t PosixFile::Size(uint64_t* size) const {
  *size = 0;
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return FileErrno(errno, ERROR_READ_FAULT);
  *size = static_cast<uint64_t>(st.st_size);
  return 0;
}

uint32_t PosixFile::Truncate() {
  uint64_t at = 0;
  if (uint32_t e = Position(&at)) return e;
  for (;;) {
    if (::ftruncate(fd_, static_cast<off_t>(at)) == 0) return 0;
    if (errno != EINTR) return FileErrno(errno, ERROR_WRITE_FAULT);
  }
}

}  // namespace platform
