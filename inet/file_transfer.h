// Moving a regular file's bytes over a data connection with the fewest
// copies: sendfile(2) for uploads, splice(2) through a pipe for downloads,
// with a plain read/write loop where the file system or socket does not take
// them. Both wait for the socket at most `timeout_ms` at a time, and return 0,
// a local file error (below 12000) or a network error (12000 and up).
#ifndef ZORVEX_INET_FILE_TRANSFER_H_
#define ZORVEX_INET_FILE_TRANSFER_H_

#include <cstdint>

#include "inet/service.h"
#include "inet/socket.h"

namespace inet {

// Sends `fd` from its current offset to its end.
DWORD SendFileData(Socket& data, int fd, int timeout_ms);

// Writes everything the peer sends, until it closes the connection, to `fd`
// at its current offset; *received counts the bytes taken off the socket.
DWORD ReceiveFileData(Socket& data, int fd, int timeout_ms, uint64_t* received);

}  // namespace inet

#endif  // ZORVEX_INET_FILE_TRANSFER_H_
