// Error numbers: the system and Internet error codes that the platform's
// operations return and that the FTP service sets as the thread's last error.
// 0 is success. The numbers are those of the original platform, so that a
// caller that tests for them (18, 12003, 12007) keeps working.
#ifndef ZORVEX_PLATFORM_ERRORS_H_
#define ZORVEX_PLATFORM_ERRORS_H_

#include <cstdint>

namespace platform {
inline namespace errors {

constexpr uint32_t ERROR_SUCCESS = 0;
constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
constexpr uint32_t ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr uint32_t ERROR_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_INVALID_HANDLE = 6;
constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr uint32_t ERROR_NO_MORE_FILES = 18;
constexpr uint32_t ERROR_NOT_READY = 21;
constexpr uint32_t ERROR_WRITE_FAULT = 29;
constexpr uint32_t ERROR_READ_FAULT = 30;
constexpr uint32_t ERROR_GEN_FAILURE = 31;
constexpr uint32_t ERROR_NOT_SUPPORTED = 50;
constexpr uint32_t ERROR_DEV_NOT_EXIST = 55;
constexpr uint32_t ERROR_FILE_EXISTS = 80;
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_OPEN_FAILED = 110;
constexpr uint32_t ERROR_DISK_FULL = 112;
constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
constexpr uint32_t ERROR_INVALID_NAME = 123;
constexpr uint32_t ERROR_ALREADY_EXISTS = 183;
constexpr uint32_t ERROR_FILENAME_EXCED_RANGE = 206;
constexpr uint32_t ERROR_MR_MID_NOT_FOUND = 317;
constexpr uint32_t ERROR_CANCELLED = 1223;

constexpr uint32_t ERROR_INTERNET_OUT_OF_HANDLES = 12001;
constexpr uint32_t ERROR_INTERNET_TIMEOUT = 12002;
constexpr uint32_t ERROR_INTERNET_EXTENDED_ERROR = 12003;
constexpr uint32_t ERROR_INTERNET_INTERNAL_ERROR = 12004;
constexpr uint32_t ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr uint32_t ERROR_INTERNET_INVALID_OPTION = 12009;
constexpr uint32_t ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
constexpr uint32_t ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr uint32_t ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037;
constexpr uint32_t ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
constexpr uint32_t ERROR_INTERNET_INVALID_CA = 12045;
constexpr uint32_t ERROR_INTERNET_CONNECTION_ABORTED = 12030;
constexpr uint32_t ERROR_INTERNET_CONNECTION_RESET = 12031;
constexpr uint32_t ERROR_FTP_TRANSFER_IN_PROGRESS = 12110;
constexpr uint32_t ERROR_FTP_DROPPED = 12111;
constexpr uint32_t ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
constexpr uint32_t ERROR_INTERNET_SEC_INVALID_CERT = 12169;

// True for the Internet codes (12001 to 12999): a failure of the network or
// of the server, as opposed to one of the local system (a file, memory).
constexpr bool IsInternetError(uint32_t error) {
  return error >= 12000 && error < 13000;
}

}  // namespace errors
}  // namespace platform

#endif  // ZORVEX_PLATFORM_ERRORS_H_
