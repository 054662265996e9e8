#include "inet/file_transfer.h"

#include <string>
#include <vector>

#include "inet/line_ends.h"
#include "platform/locale.h"

namespace inet {
namespace {

// ASCII transfers convert every byte; larger chunks mean fewer system calls.
constexpr size_t kAsciiBuffer = 256 * 1024;

DWORD SendAscii(platform::Stream& data, platform::File& file, int timeout_ms) {
  std::vector<char> buf(kAsciiBuffer);
  std::vector<char> converted(LfToCrlf::MaxOutput(buf.size()));
  LfToCrlf to_crlf;
  for (;;) {
    size_t got = 0;
    if (DWORD e = file.Read(buf.data(), buf.size(), &got)) return e;
    if (got == 0) return 0;
    const size_t size = to_crlf.Convert(buf.data(), got, converted.data());
    if (DWORD e = data.Write(converted.data(), size, timeout_ms)) return e;
  }
}

DWORD ReceiveAscii(platform::Stream& data, platform::File& file,
                   int timeout_ms, uint64_t* received) {
  // Local text in the network's form is written as it arrives.
  if (platform::LocalTextUsesCrlf())
    return data.ReceiveFile(file, timeout_ms, received);
  std::vector<char> buf(kAsciiBuffer);
  std::vector<char> converted(CrlfToLf::MaxOutput(buf.size()));
  CrlfToLf to_lf;
  for (;;) {
    size_t got = 0;
    if (DWORD e = data.Read(buf.data(), buf.size(), timeout_ms, &got)) return e;
    if (got == 0) break;
    *received += got;
    DWORD e;
    // A server that stores LF text and does not convert sends it as is.
    if (to_lf.Unchanged(buf.data(), got)) {
      e = file.Write(buf.data(), got);
    } else {
      const size_t size = to_lf.Convert(buf.data(), got, converted.data());
      e = file.Write(converted.data(), size);
    }
    if (e != 0) return e;
  }
  std::string rest;
  to_lf.Finish(&rest);
  return file.Write(rest.data(), rest.size());
}

}  // namespace

DWORD SendFileData(platform::Stream& data, platform::File& file,
                   TransferType type, int timeout_ms) {
  if (type == TransferType::kBinary) return data.SendFile(file, timeout_ms);
  return SendAscii(data, file, timeout_ms);
}

DWORD ReceiveFileData(platform::Stream& data, platform::File& file,
                      TransferType type, int timeout_ms, uint64_t* received) {
  if (type == TransferType::kBinary)
    return data.ReceiveFile(file, timeout_ms, received);
  return ReceiveAscii(data, file, timeout_ms, received);
}

}  // namespace inet
