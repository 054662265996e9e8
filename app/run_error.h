// Run-time errors of the batch run: an error number with its classic BASIC
// description. Every run-time error is thrown as a RunError and caught by the
// run's one error handler (ZorvexRun::Form_Load).
#ifndef ZORVEX_APP_RUN_ERROR_H_
#define ZORVEX_APP_RUN_ERROR_H_

#include <cstdint>
#include <exception>
#include <string>

namespace zorvex {

// Error numbers that the run can raise.
enum RunErrorNumber : int32_t {
  kErrInvalidCall = 5,        // "Invalid procedure call or argument"
  kErrOverflow = 6,           // "Overflow"
  kErrOutOfMemory = 7,        // "Out of memory"
  kErrTypeMismatch = 13,      // "Type mismatch"
  kErrInternal = 51,          // "Internal error"
  kErrBadFileName = 52,       // "Bad file name or number"
  kErrFileNotFound = 53,      // "File not found"
  kErrFileAlreadyOpen = 55,   // "File already open"
  kErrDeviceIO = 57,          // "Device I/O error"
  kErrDiskFull = 61,          // "Disk full"
  kErrInputPastEnd = 62,      // "Input past end of file"
  kErrTooManyFiles = 67,      // "Too many files"
  kErrDeviceUnavailable = 68, // "Device unavailable"
  kErrPermissionDenied = 70,  // "Permission denied"
  kErrDiskNotReady = 71,      // "Disk not ready"
  kErrPathFileAccess = 75,    // "Path/File access error"
  kErrPathNotFound = 76,      // "Path not found"
};

// The description of an error number; numbers without a text of their own get
// "Application-defined or object-defined error".
std::string ErrorDescription(int32_t number);

class RunError : public std::exception {
 public:
  explicit RunError(int32_t number)
      : number_(number), description_(ErrorDescription(number)) {}
  int32_t number() const { return number_; }
  const std::string& description() const { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  int32_t number_;
  std::string description_;
};

// The run-time error that a failed file operation raises, from the system's
// error number (platform/errors.h).
enum class FileOp { kOpenInput, kOpenOutput, kRead, kWrite, kClose };
RunError ErrorFromSystem(uint32_t error, FileOp op);

}  // namespace zorvex

#endif  // ZORVEX_APP_RUN_ERROR_H_
