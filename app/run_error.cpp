#include "app/run_error.h"

#include <cerrno>

namespace zorvex {

std::string ErrorDescription(int32_t number) {
  switch (number) {
    case 3: return "Return without GoSub";
    case 5: return "Invalid procedure call or argument";
    case 6: return "Overflow";
    case 7: return "Out of memory";
    case 9: return "Subscript out of range";
    case 11: return "Division by zero";
    case 13: return "Type mismatch";
    case 51: return "Internal error";
    case 52: return "Bad file name or number";
    case 53: return "File not found";
    case 54: return "Bad file mode";
    case 55: return "File already open";
    case 57: return "Device I/O error";
    case 58: return "File already exists";
    case 61: return "Disk full";
    case 62: return "Input past end of file";
    case 63: return "Bad record number";
    case 67: return "Too many files";
    case 68: return "Device unavailable";
    case 70: return "Permission denied";
    case 71: return "Disk not ready";
    case 75: return "Path/File access error";
    case 76: return "Path not found";
    default: return "Application-defined or object-defined error";
  }
}

RunError ErrorFromErrno(int err, FileOp op) {
  switch (err) {
    case ENOENT:
      // Opening for output creates the file, so a missing entry is its folder.
      return RunError(op == FileOp::kOpenOutput ? kErrPathNotFound
                                                : kErrFileNotFound);
    case ENOTDIR:
      return RunError(kErrPathNotFound);
    case EACCES:
    case EPERM:
      return RunError(kErrPermissionDenied);
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return RunError(kErrDiskFull);
    case EMFILE:
    case ENFILE:
      return RunError(kErrTooManyFiles);
    case ENOMEM:
      return RunError(kErrOutOfMemory);
    case ENODEV:
    case ENXIO:
      return RunError(kErrDeviceUnavailable);
    case ENAMETOOLONG:
      return RunError(kErrBadFileName);
    case EIO:
      return RunError(kErrDeviceIO);
    default:
      return RunError(op == FileOp::kOpenInput || op == FileOp::kOpenOutput
                          ? kErrPathFileAccess
                          : kErrDeviceIO);
  }
}

}  // namespace zorvex
