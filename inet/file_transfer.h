// The data of a file transfer: a local file's bytes sent over a data
// connection, or received into a local file. Binary transfers move the bytes
// as they are, through the stream's own file paths (without copying them
// through the program where the stream is a plain socket); ASCII transfers
// convert line ends on the way (LF to CR LF going out, CR LF to LF coming
// in where local text ends its lines with LF). Each returns 0, a local file
// error or a network error.
#ifndef ZORVEX_INET_FILE_TRANSFER_H_
#define ZORVEX_INET_FILE_TRANSFER_H_

#include <cstdint>

#include "inet/service.h"
#include "platform/file.h"
#include "platform/stream.h"

namespace inet {

enum class TransferType { kBinary, kAscii };

// Sends `file` from its current offset to its end.
DWORD SendFileData(platform::Stream& data, platform::File& file,
                   TransferType type, int timeout_ms);

// Writes everything the peer sends, until it ends the stream, to `file`;
// *received counts the bytes taken off the stream, before any conversion.
DWORD ReceiveFileData(platform::Stream& data, platform::File& file,
                      TransferType type, int timeout_ms, uint64_t* received);

}  // namespace inet

#endif  // ZORVEX_INET_FILE_TRANSFER_H_
