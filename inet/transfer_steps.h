// One attempt at a file transfer on a control connection (its lock held):
// an upload, verified and optionally made under a temporary name, and a
// download that goes on from where an earlier attempt stopped. Each returns
// 0, a local error or a network error, as FtpPutFileA and FtpGetFileA give
// them.
#ifndef ZORVEX_INET_TRANSFER_STEPS_H_
#define ZORVEX_INET_TRANSFER_STEPS_H_

#include <string>

#include "inet/control_connection.h"
#include "inet/file_transfer.h"
#include "inet/local_file.h"
#include "platform/file.h"

namespace inet {

// Sends `file` from its start to `remote`. In binary mode with
// verify_upload, a stored size (SIZE) other than the bytes sent fails with
// 12030, the SIZE reply being the last response. With atomic_upload the
// file goes to a temporary name in the same folder and is then renamed to
// `remote`; the temporary file is deleted when anything fails.
DWORD UploadFile(ControlConnection& c, platform::File& file,
                 const std::string& remote, TransferType type);

// Receives `remote` into the target's temporary file. A binary download
// whose file already holds bytes from an earlier attempt asks for the rest
// (REST) when the server lists REST STREAM; otherwise the file starts over.
// A binary result whose size differs from the one the server gave fails
// with 12030. Does not commit the target.
DWORD DownloadFile(ControlConnection& c, DownloadTarget& target,
                   const std::string& remote, TransferType type);

// The temporary name of an atomic upload of `remote`: the same folder, a
// leading dot, the name, ".zvx-" and six random letters and digits.
std::string TemporaryRemoteName(const std::string& remote);

}  // namespace inet

#endif  // ZORVEX_INET_TRANSFER_STEPS_H_
