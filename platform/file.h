// An open local file, as the Env hands it out: reads, writes, flushing to the
// disk, and closing. Every operation returns 0 or an error number
// (platform/errors.h: 5 access denied, 29 write fault, 30 read fault, 112
// disk full, ...). The destructor closes a file still open, ignoring errors.
#ifndef ZORVEX_PLATFORM_FILE_H_
#define ZORVEX_PLATFORM_FILE_H_

#include <cstddef>
#include <cstdint>

namespace platform {

class File {
 public:
  virtual ~File() = default;

  // Reads up to `size` bytes at the current offset; *got = 0 at the end.
  virtual uint32_t Read(char* buffer, size_t size, size_t* got) = 0;
  // Writes all of `data` at the current offset.
  virtual uint32_t Write(const char* data, size_t size) = 0;
  // Flushes the file's data and size to the disk.
  virtual uint32_t Sync() = 0;
  // Closes the file, reporting a failure the system saw only now.
  virtual uint32_t Close() = 0;

  // The current offset. Safe to call from another thread while a transfer
  // moves the offset (a progress display reads it so); the value may then
  // be a moment old.
  virtual uint32_t Position(uint64_t* offset) const = 0;
  // Moves the current offset to `offset` from the start.
  virtual uint32_t Seek(uint64_t offset) = 0;
  // Cuts the file to its current offset (a download that starts over).
  virtual uint32_t Truncate() = 0;
  // The file's size in bytes.
  virtual uint32_t Size(uint64_t* size) const = 0;

  // The platform's own handle (a descriptor or a HANDLE's value), which lets
  // the same platform's sockets move the bytes without copying them; -1 for
  // a file that has none, such as a test double's.
  virtual intptr_t NativeHandle() const { return -1; }
};

}  // namespace platform

#endif  // ZORVEX_PLATFORM_FILE_H_
