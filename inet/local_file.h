// Local file functions shared by the transfers: the service error code for a
// failed file call, and small path and write utilities.
#ifndef ZORVEX_INET_LOCAL_FILE_H_
#define ZORVEX_INET_LOCAL_FILE_H_

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "inet/service.h"

namespace inet {

// The error code for a failed local file call's errno (2 not found, 3 path
// not found, 5 access denied, 112 disk full, ...); `otherwise` for the rest.
DWORD FileErrno(int err, DWORD otherwise);

// The folder part of a path: "." when it has no slash, "/" for "/name".
std::string ParentOf(const std::string& path);

bool IsDirectory(const std::string& path);

// The process umask, read without changing it where the system allows.
mode_t CurrentUmask();

// Writes all of `data` to `fd`: 0, or the file error code.
DWORD WriteAll(int fd, const char* data, size_t size);

}  // namespace inet

#endif  // ZORVEX_INET_LOCAL_FILE_H_
