// Downloads: the size the server gives, RETR into the target's temporary
// file, and REST to go on from the bytes an earlier attempt received.
#include <optional>

#include "inet/data_address.h"
#include "inet/errors.h"
#include "inet/progress_ticker.h"
#include "inet/transfer_steps.h"

namespace inet {
namespace {

// The size of the remote file as the server tells it (nullopt when it does
// not): lets a cut transfer be caught even when the server reports success.
DWORD RemoteSize(ControlConnection& c, const std::string& remote,
                 std::optional<uint64_t>* size) {
  Reply r;
  if (DWORD e = c.Command("SIZE " + remote, &r)) return e;
  if (r.code == 213) *size = ParseSizeReply(r.text);
  return 0;
}

// Where this attempt starts in the local file: after the bytes it already
// holds when the server can go on from there, else at 0 with the file
// emptied.
DWORD StartOffset(ControlConnection& c, platform::File& file,
                  TransferType type, uint64_t* offset) {
  *offset = 0;
  uint64_t held = 0;
  if (DWORD e = file.Position(&held)) return e;
  if (held == 0) return 0;
  if (type == TransferType::kBinary && c.HasFeature("REST STREAM")) {
    Reply r;
    if (DWORD e = c.Command("REST " + std::to_string(held), &r)) return e;
    if (r.code == 350) {
      c.Trace("resuming at byte " + std::to_string(held));
      *offset = held;
      return 0;
    }
  }
  if (DWORD e = file.Seek(0)) return e;
  return file.Truncate();
}

}  // namespace

DWORD DownloadFile(ControlConnection& c, DownloadTarget& target,
                   const std::string& remote, TransferType type) {
  platform::File& file = target.file();
  if (DWORD e = c.SetType(type == TransferType::kAscii ? 'A' : 'I')) return e;
  std::optional<uint64_t> expected;
  if (type == TransferType::kBinary) {
    if (DWORD e = RemoteSize(c, remote, &expected)) return e;
  }
  uint64_t offset = 0;
  if (DWORD e = StartOffset(c, file, type, &offset)) return e;
  uint64_t received = 0;
  Reply last;
  DWORD e = c.Transfer(
      "RETR " + remote,
      [&](const Reply& preliminary, platform::Stream& data) -> DWORD {
        // After REST a server may announce the whole size or what is left:
        // only SIZE's answer is trusted then.
        if (type == TransferType::kBinary && !expected && offset == 0)
          expected = ParseAnnouncedSize(preliminary.text);
        const ProgressTicker ticker(
            c.options().progress, file,
            expected ? *expected
                     : ParseAnnouncedSize(preliminary.text).value_or(0));
        if (DWORD e = ReceiveFileData(data, file, type,
                                      c.options().io_timeout_ms, &received))
          return e;
        // A secured stream that ended without its closing message was
        // cut, unless the size the server announced has arrived.
        if (!data.EndedInOrder() && !expected)
          return ERROR_INTERNET_CONNECTION_ABORTED;
        return 0;
      },
      &last);
  if (e != 0) return e;
  if (expected && offset + received != *expected)
    return ERROR_INTERNET_CONNECTION_ABORTED;
  return 0;
}

}  // namespace inet
