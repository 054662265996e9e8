// FtpClient: the Internet FTP service implemented as our own FTP client over
// POSIX sockets (RFC 959 with the EPSV/EPRT, FEAT and MLSD extensions).
// Thread-compatible: one object may be used from several threads, one call at
// a time per handle; the last error is per thread.
#ifndef ZORVEX_INET_FTP_CLIENT_H_
#define ZORVEX_INET_FTP_CLIENT_H_

#include <memory>

#include "inet/service.h"

namespace inet {

struct FtpClientOptions {
  int connect_timeout_ms = 30000;  // TCP connect, and the greeting
  int io_timeout_ms = 60000;       // inactivity on control and data connections
  int quit_timeout_ms = 2000;      // waiting for 221 after QUIT
  bool use_mlsd = true;            // false: always list with LIST
};

class FtpClient : public Service {
 public:
  explicit FtpClient(FtpClientOptions options = {});
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
