#include "platform/stream.h"

#include <vector>

#include "platform/errors.h"
#include "platform/file.h"

namespace platform {
namespace {
constexpr size_t kCopyBuffer = 256 * 1024;
}  // namespace

uint32_t Stream::SendFile(File& file, int timeout_ms) {
  std::vector<char> buf(kCopyBuffer);
  for (;;) {
    size_t got = 0;
    if (uint32_t e = file.Read(buf.data(), buf.size(), &got)) return e;
    if (got == 0) return 0;
    if (uint32_t e = Write(buf.data(), got, timeout_ms)) return e;
  }
}

uint32_t Stream::ReceiveFile(File& file, int timeout_ms, uint64_t* received) {
  std::vector<char> buf(kCopyBuffer);
  for (;;) {
    size_t got = 0;
    if (uint32_t e = Read(buf.data(), buf.size(), timeout_ms, &got)) return e;
    if (got == 0) return 0;
    *received += got;
    if (uint32_t e = file.Write(buf.data(), got)) return e;
  }
}

}  // namespace platform
