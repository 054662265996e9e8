// The Internet FTP service and the kernel services that the session component
// calls, as one abstract interface. Production code uses FtpClient (our own FTP
// client over the platform's sockets); unit tests use a recording fake.
//
// The contract of every member:
//  - Strings are NUL-terminated bytes in the system ANSI code page (the
//    locale's character set). A text that may be absent is a nullable pointer:
//    nullptr is "no value" and is distinct from "" (an empty text).
//  - Handles are 32-bit values; 0 means none. BOOL results are 32-bit; 0 means
//    failure, anything else success.
//  - Every call sets the calling thread's last error (0 on success), which
//    GetLastError() reads right after a failure. "Fails with" below lists the
//    errors a member gives (inet/errors.h); every member that talks to the
//    server may also give the network's:
//      ERROR_INTERNET_TIMEOUT (12002) no answer within the timeout;
//      ERROR_INTERNET_EXTENDED_ERROR (12003) the server refused: its reply
//        is the last response (InternetGetLastResponseInfoA);
//      ERROR_INTERNET_CANNOT_CONNECT (12029) a connection was refused;
//      ERROR_INTERNET_CONNECTION_ABORTED (12030), _RESET (12031) the
//        connection was lost, or the server broke the protocol;
//      ERROR_NOT_ENOUGH_MEMORY (8).
#ifndef ZORVEX_INET_SERVICE_H_
#define ZORVEX_INET_SERVICE_H_

#include <cstdint>

namespace inet {

using HINTERNET = uint32_t;  // opaque handle, 0 = none
using BOOL = int32_t;        // 0 = failure
using DWORD = uint32_t;
using WORD = uint16_t;
using DWORD_PTR = uintptr_t;
// The control port. 32 bits wide so that an out-of-range port is refused
// (ERROR_INVALID_PARAMETER) instead of being silently wrapped; 0 means the
// default FTP port, 21.
using INTERNET_PORT = int32_t;

// A count of 100-nanosecond intervals since 1 January 1601 (UTC).
struct FILETIME {
  DWORD dwLowDateTime = 0;
  DWORD dwHighDateTime = 0;
};

// Calendar fields of a FILETIME.
struct SYSTEMTIME {
  WORD wYear = 0;
  WORD wMonth = 0;
  WORD wDayOfWeek = 0;
  WORD wDay = 0;
  WORD wHour = 0;
  WORD wMinute = 0;
  WORD wSecond = 0;
  WORD wMilliseconds = 0;
};

constexpr int MAX_PATH = 260;

// One entry of a remote directory listing.
struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes = 0;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh = 0;
  DWORD nFileSizeLow = 0;
  DWORD dwReserved0 = 0;
  DWORD dwReserved1 = 0;
  char cFileName[MAX_PATH] = {};
  char cAlternateFileName[14] = {};
};

// Argument values.
constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
constexpr DWORD INTERNET_SERVICE_FTP = 1;
constexpr DWORD INTERNET_FLAG_PASSIVE = 0x08000000;
constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
constexpr DWORD FTP_TRANSFER_TYPE_ASCII = 1;
constexpr DWORD FTP_TRANSFER_TYPE_BINARY = 2;
constexpr INTERNET_PORT INTERNET_DEFAULT_FTP_PORT = 21;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 16;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 128;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x200;
constexpr DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0xFF;

// FTP over TLS, an addition of our client's (the original service spoke plain
// FTP only). Connect flags: INTERNET_FLAG_SECURE asks for TLS, negotiated
// with AUTH TLS after the greeting; with INTERNET_FLAG_SECURE_IMPLICIT as
// well, TLS starts with the first byte (port 0 then means 990).
constexpr DWORD INTERNET_FLAG_SECURE = 0x00800000;
constexpr DWORD INTERNET_FLAG_SECURE_IMPLICIT = 0x00000040;
constexpr INTERNET_PORT INTERNET_DEFAULT_FTPS_PORT = 990;
// InternetSetOptionA on the Internet handle: the path (ANSI) of a PEM file
// whose certificates alone are trusted by the TLS connections opened on it
// afterwards; an empty path: the system's trust store.
constexpr DWORD INTERNET_OPTION_TRUST_FILE = 0x7A01;

class Service {
 public:
  virtual ~Service() = default;

  // Opens the Internet session. Returns its handle, 0 on failure.
  // Fails with ERROR_INVALID_PARAMETER (a proxy access type),
  // ERROR_INTERNET_OUT_OF_HANDLES.
  virtual HINTERNET InternetOpenA(const char* lpszAgent, DWORD dwAccessType,
                                  const char* lpszProxy,
                                  const char* lpszProxyBypass,
                                  DWORD dwFlags) = 0;

  // Connects to an FTP server and logs in. Returns the connection handle, which
  // exists only after a successful login; 0 on failure. A null user logs in
  // anonymously; a null password with a user sends an empty password.
  // Fails with ERROR_INVALID_HANDLE (not an Internet handle),
  // ERROR_INVALID_PARAMETER (not the FTP service, a port outside 0..65535, a
  // user or password holding a line break), ERROR_INTERNET_NAME_NOT_RESOLVED
  // (also a null or empty host), the network's errors (12003: the greeting
  // or the login refused), ERROR_INTERNET_OUT_OF_HANDLES.
  virtual HINTERNET InternetConnectA(HINTERNET hInternet,
                                     const char* lpszServerName,
                                     INTERNET_PORT nServerPort,
                                     const char* lpszUserName,
                                     const char* lpszPassword, DWORD dwService,
                                     DWORD dwFlags, DWORD_PTR dwContext) = 0;

  // Closes any handle. Closing a connection logs out; closing the Internet
  // handle closes its connections; closing a search frees its listing.
  // Fails with ERROR_INVALID_HANDLE (not open).
  virtual BOOL InternetCloseHandle(HINTERNET hInternet) = 0;

  // Uploads a local file to a remote path. dwFlags holds the transfer type.
  // Fails with ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER (a null text, an
  // empty local path), ERROR_INVALID_NAME (a remote name holding a line
  // break), ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED
  // (the local file, or not a regular file), ERROR_READ_FAULT, the network's.
  virtual BOOL FtpPutFileA(HINTERNET hConnect, const char* lpszLocalFile,
                           const char* lpszNewRemoteFile, DWORD dwFlags,
                           DWORD_PTR dwContext) = 0;

  // Downloads a remote file. The local file is replaced only after a complete
  // transfer; with fFailIfExists non-zero an existing local file fails the call
  // (ERROR_FILE_EXISTS) before any traffic. Fails with ERROR_INVALID_HANDLE,
  // ERROR_INVALID_PARAMETER (a null text, an empty local path),
  // ERROR_INVALID_NAME (a remote name holding a line break; a local path
  // whose last element is empty, "." or ".."), ERROR_FILE_EXISTS,
  // ERROR_ACCESS_DENIED (the local target is a folder, or may not be
  // written), ERROR_PATH_NOT_FOUND, ERROR_DISK_FULL, ERROR_WRITE_FAULT, the
  // network's (12030 also for a binary download whose byte count differs
  // from the size the server announced).
  virtual BOOL FtpGetFileA(HINTERNET hConnect, const char* lpszRemoteFile,
                           const char* lpszNewFile, BOOL fFailIfExists,
                           DWORD dwFlagsAndAttributes, DWORD dwFlags,
                           DWORD_PTR dwContext) = 0;

  // The four members below and FtpSetCurrentDirectoryA fail with
  // ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER (a null name),
  // ERROR_INVALID_NAME (a name holding a line break), the network's.
  // Renames a remote file (RNFR then RNTO).
  virtual BOOL FtpRenameFileA(HINTERNET hConnect, const char* lpszExisting,
                              const char* lpszNew) = 0;
  // Deletes a remote file.
  virtual BOOL FtpDeleteFileA(HINTERNET hConnect, const char* lpszFileName) = 0;
  // Creates a remote directory.
  virtual BOOL FtpCreateDirectoryA(HINTERNET hConnect,
                                   const char* lpszDirectory) = 0;
  // Removes a remote directory.
  virtual BOOL FtpRemoveDirectoryA(HINTERNET hConnect,
                                   const char* lpszDirectory) = 0;
  // Copies the remote current directory into lpszCurrentDirectory, which holds
  // *lpdwCurrentDirectory bytes; on success *lpdwCurrentDirectory is the length
  // without the NUL. A path that does not fit fails with
  // ERROR_INSUFFICIENT_BUFFER and is never cut. Fails with
  // ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER (a null argument),
  // ERROR_INSUFFICIENT_BUFFER, the network's (12003 also for a reply that
  // holds no quoted path).
  virtual BOOL FtpGetCurrentDirectoryA(HINTERNET hConnect,
                                       char* lpszCurrentDirectory,
                                       DWORD* lpdwCurrentDirectory) = 0;
  // Changes the remote current directory.
  virtual BOOL FtpSetCurrentDirectoryA(HINTERNET hConnect,
                                       const char* lpszDirectory) = 0;

  // Starts a listing and fills *lpFindFileData with its first match. Returns
  // the search handle; 0 on failure, with ERROR_NO_MORE_FILES when nothing
  // matches. Fails with ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER (a null
  // record), ERROR_INVALID_NAME (a line break), ERROR_NO_MORE_FILES, the
  // network's (12003 also when the path names nothing),
  // ERROR_INTERNET_OUT_OF_HANDLES.
  virtual HINTERNET FtpFindFirstFileA(HINTERNET hConnect,
                                      const char* lpszSearchFile,
                                      WIN32_FIND_DATAA* lpFindFileData,
                                      DWORD dwFlags, DWORD_PTR dwContext) = 0;
  // Fills *lpvFindData with the next match; ERROR_NO_MORE_FILES at the end.
  // Fails with ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER (a null record),
  // ERROR_NO_MORE_FILES.
  virtual BOOL InternetFindNextFileA(HINTERNET hFind,
                                     WIN32_FIND_DATAA* lpvFindData) = 0;

  // Copies the whole text of the server's last reply into lpszBuffer, which
  // holds *lpdwBufferLength bytes, and its three-digit code into *lpdwError.
  // Fails with ERROR_INVALID_PARAMETER (a null pointer),
  // ERROR_INSUFFICIENT_BUFFER (the buffer still holds the start of the text,
  // and *lpdwBufferLength the size needed).
  virtual BOOL InternetGetLastResponseInfoA(DWORD* lpdwError, char* lpszBuffer,
                                            DWORD* lpdwBufferLength) = 0;

  // Sets an option of an Internet handle (INTERNET_OPTION_TRUST_FILE, whose
  // buffer holds dwBufferLength bytes of path, no NUL needed). Fails with
  // ERROR_INVALID_HANDLE (not an Internet handle), ERROR_INVALID_PARAMETER
  // (an unknown option, a null buffer with a length).
  virtual BOOL InternetSetOptionA(HINTERNET hInternet, DWORD dwOption,
                                  const void* lpBuffer,
                                  DWORD dwBufferLength) = 0;

  // Kernel: the message text for dwMessageId, in the user's language. Returns
  // the number of bytes stored without the NUL; 0 when there is no text.
  // Fails with ERROR_INVALID_PARAMETER (no FORMAT_MESSAGE_FROM_SYSTEM, a null
  // buffer), ERROR_MR_MID_NOT_FOUND (no text), ERROR_INSUFFICIENT_BUFFER.
  virtual DWORD FormatMessageA(DWORD dwFlags, const void* lpSource,
                               DWORD dwMessageId, DWORD dwLanguageId,
                               char* lpBuffer, DWORD nSize,
                               void* Arguments) = 0;

  // Kernel: a FILETIME as calendar fields (no time-zone conversion). Fails
  // with ERROR_INVALID_PARAMETER (a null pointer, a time past the largest
  // FILETIME).
  virtual BOOL FileTimeToSystemTime(const FILETIME* lpFileTime,
                                    SYSTEMTIME* lpSystemTime) = 0;

  // Kernel: the calling thread's last error, as set by the last call above.
  virtual DWORD GetLastError() = 0;
};

}  // namespace inet

#endif  // ZORVEX_INET_SERVICE_H_
