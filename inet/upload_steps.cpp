// Uploads: STOR, the check of the stored size, and the temporary name of an
// atomic upload with its rename and cleanup.
#include <random>

#include "inet/data_address.h"
#include "inet/errors.h"
#include "inet/last_error.h"
#include "inet/progress_ticker.h"
#include "inet/transfer_steps.h"

namespace inet {
namespace {

// The size the server stored against the bytes sent. A server that does
// not give sizes, or will not give this one, cannot be checked: that is not
// a failure. Costs one round trip (two on a connection that has not yet
// sent FEAT). On success the transfer's own reply stays the last response.
DWORD VerifyStored(ControlConnection& c, const std::string& remote,
                   uint64_t sent, const Reply& transfer_reply) {
  if (!c.options().verify_upload || !c.SizeSupported()) return 0;
  Reply r;
  if (DWORD e = c.Command("SIZE " + remote, &r)) return e;
  const std::optional<uint64_t> stored =
      r.code == 213 ? ParseSizeReply(r.text) : std::nullopt;
  if (stored && *stored != sent) {
    c.Trace("upload verification failed: " + std::to_string(sent) +
            " bytes sent, " + std::to_string(*stored) + " bytes stored");
    return ERROR_INTERNET_CONNECTION_ABORTED;
  }
  SetLastResponse(static_cast<DWORD>(transfer_reply.code),
                  transfer_reply.text);
  return 0;
}

DWORD Store(ControlConnection& c, platform::File& file,
            const std::string& remote, TransferType type) {
  if (DWORD e = file.Seek(0)) return e;
  if (DWORD e = c.SetType(type == TransferType::kAscii ? 'A' : 'I')) return e;
  Reply last;
  DWORD e = c.Transfer("STOR " + remote,
                       [&](const Reply&, platform::Stream& data) {
                         uint64_t size = 0;
                         file.Size(&size);
                         const ProgressTicker ticker(c.options().progress,
                                                     file, size);
                         return SendFileData(data, file, type,
                                             c.options().io_timeout_ms);
                       },
                       &last);
  if (e != 0 || type == TransferType::kAscii) return e;
  uint64_t sent = 0;
  if ((e = file.Position(&sent)) != 0) return e;
  return VerifyStored(c, remote, sent, last);
}

// Best effort, leaving the call's error and last response as they were: a
// lost connection is replaced by a new one for the DELE.
void DeleteTemporary(ControlConnection& c, const std::string& temp) {
  const DWORD error = LastError();
  const LastResponse saved = ThreadLastResponse();
  Reply r;
  if (c.lost()) {
    std::unique_ptr<ControlConnection> side = c.Sibling();
    if (side->Reconnect() == 0) side->Command("DELE " + temp, &r);
    side->Quit();
  } else if (c.broken() == 0) {
    c.Command("DELE " + temp, &r);
  }
  SetLastResponse(saved.code, saved.text);
  SetLastError(error);
}

// RNFR/RNTO; a server that refuses to rename over an existing file gets
// the target deleted first, and only then.
DWORD RenameOver(ControlConnection& c, const std::string& temp,
                 const std::string& remote) {
  if (DWORD e = c.Expect("RNFR " + temp, 3)) return e;
  Reply refusal;
  if (DWORD e = c.Command("RNTO " + remote, &refusal)) return e;
  if (refusal.kind() == 2) return 0;
  if (refusal.kind() != 5) return ERROR_INTERNET_EXTENDED_ERROR;
  Reply r;
  if (DWORD e = c.Command("DELE " + remote, &r)) return e;
  if (r.kind() != 2) {
    // Nothing to replace: the refusal had another cause.
    SetLastResponse(static_cast<DWORD>(refusal.code), refusal.text);
    return ERROR_INTERNET_EXTENDED_ERROR;
  }
  c.Trace("the server would not rename over " + remote +
          ", which was deleted first");
  if (DWORD e = c.Expect("RNFR " + temp, 3)) return e;
  return c.Expect("RNTO " + remote, 2);
}

}  // namespace

std::string TemporaryRemoteName(const std::string& remote) {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  std::uniform_int_distribution<size_t> pick(0, sizeof kChars - 2);
  std::string suffix;
  for (int i = 0; i < 6; ++i) suffix += kChars[pick(device)];
  const size_t slash = remote.find_last_of('/');
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  return remote.substr(0, base) + "." + remote.substr(base) + ".zvx-" +
         suffix;
}

DWORD UploadFile(ControlConnection& c, platform::File& file,
                 const std::string& remote, TransferType type) {
  if (!c.options().atomic_upload) return Store(c, file, remote, type);
  const std::string temp = TemporaryRemoteName(remote);
  DWORD e = Store(c, file, temp, type);
  if (e == 0) e = RenameOver(c, temp, remote);
  if (e != 0) {
    SetLastError(e);
    DeleteTemporary(c, temp);
  }
  return e;
}

}  // namespace inet
