#include "inet/file_transfer.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "inet/line_ends.h"
#include "platform/locale.h"

namespace inet {
namespace {

// ASCII transfers convert every byte; larger chunks mean fewer system calls.
constexpr size_t kAsciiBuffer = 256 * 1024;
// An upload's chunk is smaller: a receiver on this machine takes writes of
// about one loopback packet (64 KiB) faster than larger ones.
constexpr size_t kAsciiSendChunk = 60 * 1024;

DWORD SendAscii(platform::Stream& data, platform::File& file, int timeout_ms) {
  std::vector<char> buf(kAsciiSendChunk);
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
  // CR LF to LF only shrinks the text, so each chunk is converted where it
  // was received; the byte in front is room for a CR held back from the
  // chunk before.
  std::unique_ptr<char[]> buf(new char[kAsciiBuffer + 1]);
  char* const chunk = buf.get() + 1;
  CrlfToLf to_lf;
  for (;;) {
    size_t got = 0;
    if (DWORD e = data.Read(chunk, kAsciiBuffer, timeout_ms, &got)) return e;
    if (got == 0) break;
    *received += got;
    const std::string_view text = to_lf.ConvertInPlace(chunk, got);
    if (text.empty()) continue;
    if (DWORD e = file.Write(text.data(), text.size())) return e;
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
