// FtpClient: the Internet FTP service implemented as our own FTP client over
// the platform's sockets (RFC 959 with the EPSV/EPRT, FEAT and MLSD
// extensions).
// Thread-compatible: one object may be used from several threads, one call at
// a time per handle; the last error is per thread.
//
// Last errors:
//   0      success
//   2/3    local file missing / its folder missing;  5 access denied
//   6      handle 0, closed, unknown or of the wrong kind
//   18     a search matched nothing, or its end was reached
//   80     FtpGetFileA with fail-if-exists and an existing local file
//   87     an argument that cannot be used (null text, port outside 0..65535)
//   112    local disk full;  122 the caller's buffer is too small
//   123    a remote name holding CR or LF (refused before it is sent)
//   12002  timed out (connect, greeting, reply, data)
//   12003  the server refused: its reply is the last response
//   12007  the host name does not resolve (also a null or empty host)
//   12029  connection refused or unreachable
//   12030  connection closed, a reply that does not parse or exceeds its
//          bounds (64 KiB a line, 1 MiB a reply), a binary download
//          shorter or longer than the size the server announced, or a
//          binary upload whose stored size (SIZE) is not the bytes sent
//   12031  connection reset by the server
//   1223   the user interrupted the run (platform::Env::Interrupted)
//   FTP over TLS (INTERNET_FLAG_SECURE): 12037 certificate out of its dates,
//   12038 certificate for another name, 12045 untrusted authority, 12157 no
//   secure channel, 12169 another certificate fault or an empty trust file;
//   12030 also for a TLS data stream cut without its closing message.
// After 12002, 12030 or 12031 on the control connection, the connection is
// closed and every later call on it fails at once with 12030 (or 12031).
//
// Last response: every line of the reply, CRLF-separated, without a final
// CRLF; its error number is the reply's three-digit code. A buffer too small
// receives as much as fits, NUL-terminated, and the call fails with 122 with
// the length set to the size needed (NUL included).
//
// With FtpClientOptions::retries, a failure that may pass is tried again
// (retry.h) and the call reports only its last attempt; with atomic_upload
// an upload is stored under a temporary name and renamed over the target.
//
// Downloads go to a temporary file beside the target (".<name>.zvx-XXXXXX")
// that replaces the target only after the server confirmed the transfer, so
// a failed download leaves an existing file as it was.
#ifndef ZORVEX_INET_FTP_CLIENT_H_
#define ZORVEX_INET_FTP_CLIENT_H_

#include <memory>

#include "inet/client_options.h"
#include "inet/service.h"

namespace platform {
class Env;
}  // namespace platform

namespace inet {

class FtpClient : public Service {
 public:
  // Sockets and local files come from `env` (the platform's own when null),
  // which must outlive the client.
  explicit FtpClient(FtpClientOptions options = {},
                     platform::Env* env = nullptr);
  ~FtpClient() override;
  FtpClient(const FtpClient&) = delete;
  FtpClient& operator=(const FtpClient&) = delete;

  // Applies to connections opened afterwards.
  void SetOptions(const FtpClientOptions& options);
  FtpClientOptions options() const;

  HINTERNET InternetOpenA(const char* lpszAgent, DWORD dwAccessType,
                          const char* lpszProxy, const char* lpszProxyBypass,
                          DWORD dwFlags) override;
  HINTERNET InternetConnectA(HINTERNET hInternet, const char* lpszServerName,
                             INTERNET_PORT nServerPort,
                             const char* lpszUserName, const char* lpszPassword,
                             DWORD dwService, DWORD dwFlags,
                             DWORD_PTR dwContext) override;
  BOOL InternetCloseHandle(HINTERNET hInternet) override;
  BOOL FtpPutFileA(HINTERNET hConnect, const char* lpszLocalFile,
                   const char* lpszNewRemoteFile, DWORD dwFlags,
                   DWORD_PTR dwContext) override;
  BOOL FtpGetFileA(HINTERNET hConnect, const char* lpszRemoteFile,
                   const char* lpszNewFile, BOOL fFailIfExists,
                   DWORD dwFlagsAndAttributes, DWORD dwFlags,
                   DWORD_PTR dwContext) override;
  BOOL FtpRenameFileA(HINTERNET hConnect, const char* lpszExisting,
                      const char* lpszNew) override;
  BOOL FtpDeleteFileA(HINTERNET hConnect, const char* lpszFileName) override;
  BOOL FtpCreateDirectoryA(HINTERNET hConnect,
                           const char* lpszDirectory) override;
  BOOL FtpRemoveDirectoryA(HINTERNET hConnect,
                           const char* lpszDirectory) override;
  BOOL FtpGetCurrentDirectoryA(HINTERNET hConnect, char* lpszCurrentDirectory,
                               DWORD* lpdwCurrentDirectory) override;
  BOOL FtpSetCurrentDirectoryA(HINTERNET hConnect,
                               const char* lpszDirectory) override;
  HINTERNET FtpFindFirstFileA(HINTERNET hConnect, const char* lpszSearchFile,
                              WIN32_FIND_DATAA* lpFindFileData, DWORD dwFlags,
                              DWORD_PTR dwContext) override;
  BOOL InternetFindNextFileA(HINTERNET hFind,
                             WIN32_FIND_DATAA* lpvFindData) override;
  BOOL InternetGetLastResponseInfoA(DWORD* lpdwError, char* lpszBuffer,
                                    DWORD* lpdwBufferLength) override;
  BOOL InternetSetOptionA(HINTERNET hInternet, DWORD dwOption,
                          const void* lpBuffer,
                          DWORD dwBufferLength) override;
  DWORD FormatMessageA(DWORD dwFlags, const void* lpSource, DWORD dwMessageId,
                       DWORD dwLanguageId, char* lpBuffer, DWORD nSize,
                       void* Arguments) override;
  BOOL FileTimeToSystemTime(const FILETIME* lpFileTime,
                            SYSTEMTIME* lpSystemTime) override;
  DWORD GetLastError() override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace inet

#endif  // ZORVEX_INET_FTP_CLIENT_H_
