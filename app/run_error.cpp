#include "app/run_error.h"

#include "platform/errors.h"

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

RunError ErrorFromSystem(uint32_t error, FileOp op) {
  using namespace platform::errors;
  const bool open = op == FileOp::kOpenInput || op == FileOp::kOpenOutput;
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      // Opening for output creates the file, so a missing entry is its folder.
      return RunError(op == FileOp::kOpenOutput ? kErrPathNotFound
                                                : kErrFileNotFound);
    case ERROR_PATH_NOT_FOUND:
      return RunError(kErrPathNotFound);
    case ERROR_ACCESS_DENIED:
      return RunError(kErrPermissionDenied);
    case ERROR_DISK_FULL:
      return RunError(kErrDiskFull);
    case ERROR_TOO_MANY_OPEN_FILES:
      return RunError(kErrTooManyFiles);
    case ERROR_NOT_ENOUGH_MEMORY:
      return RunError(kErrOutOfMemory);
    case ERROR_DEV_NOT_EXIST:
      return RunError(kErrDeviceUnavailable);
    case ERROR_NOT_READY:
      return RunError(kErrDiskNotReady);
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_INVALID_NAME:
      return RunError(kErrBadFileName);
    default:
      return RunError(open ? kErrPathFileAccess : kErrDeviceIO);
  }
}

}  // namespace zorvex
