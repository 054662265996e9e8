// RecordingService: a fake Internet FTP service for unit tests. It records
// every call with its arguments, in order, and answers from scripts: a queue
// of results (with the last error each one sets) per operation, falling back
// to a default; response text and code for InternetGetLastResponseInfoA;
// message texts for FormatMessageA; find-data records for the search; the
// current directory text.
#ifndef ZORVEX_TESTS_SUPPORT_RECORDING_SERVICE_H_
#define ZORVEX_TESTS_SUPPORT_RECORDING_SERVICE_H_

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "inet/service.h"

namespace testsupport {

// One argument as it crossed the interface: a number (handles, flags, ports,
// lengths offered) or a string (nullopt for a null pointer).
using Arg = std::variant<uint64_t, std::optional<std::string>>;

struct Call {
  std::string name;
  std::vector<Arg> args;

  // The index-th argument as a number or as a string; fail the test (and
  // return 0 / nullopt) when it is of the other kind.
  uint64_t Num(size_t index) const;
  std::optional<std::string> Str(size_t index) const;
  // For example: FtpPutFileA(7, "a.txt", "/pub/a.txt", 2, 0); null is
  // written null.
  std::string ToString() const;
};

std::ostream& operator<<(std::ostream& os, const Call& call);

// What one call returns and the last error it leaves.
struct Outcome {
  uint64_t result = 1;
  inet::DWORD error = 0;
};

class RecordingService : public inet::Service {
 public:
  RecordingService();

  // --- Scripting ----------------------------------------------------------
  // The next call of `op` returns `result` and sets `error` as the last error
  // (one entry per call, first in first out).
  RecordingService& Then(const std::string& op, uint64_t result,
                         inet::DWORD error = 0);
  // Shorthand for Then(op, 0, error).
  RecordingService& Fail(const std::string& op, inet::DWORD error);
  // What `op` returns once its queue is empty. Defaults: InternetOpenA 1,
  // InternetConnectA 2, FtpFindFirstFileA 3, FormatMessageA the text's length,
  // every BOOL 1, all with last error 0.
  RecordingService& Default(const std::string& op, uint64_t result,
                            inet::DWORD error = 0);

  // InternetGetLastResponseInfoA writes `code` and copies `text` into the
  // caller's buffer (as much as its length allows, NUL only when it fits).
  void SetResponse(inet::DWORD code, std::string text);
  // FormatMessageA finds `text` for `id` (any other id has no text).
  void SetMessage(inet::DWORD id, std::string text);
  // A successful FtpGetCurrentDirectoryA copies `text` like the response.
  void SetCurrentDirectory(std::string text);
  // A successful FtpFindFirstFileA / InternetFindNextFileA fills the caller's
  // record with the next of these (a zeroed record when none is left).
  void AddFindData(const inet::WIN32_FIND_DATAA& record);
  // A successful FileTimeToSystemTime gives the next scripted fields instead
  // of converting the time (converted when none is scripted).
  void AddSystemTime(const inet::SYSTEMTIME& fields);

  // A find-data record with the given name, attributes, size halves and
  // last-write time.
  static inet::WIN32_FIND_DATAA FindData(const std::string& name,
                                         inet::DWORD attributes,
                                         inet::DWORD size_high = 0,
                                         inet::DWORD size_low = 0,
                                         inet::FILETIME last_write = {});
  // The FILETIME of a calendar time (UTC).
  static inet::FILETIME FileTime(int year, int month, int day, int hour,
                                 int minute, int second, int millis = 0);

  // --- Inspection -----------------------------------------------------------
  const std::vector<Call>& calls() const { return calls_; }
  // The calls except GetLastError.
  std::vector<Call> ServiceCalls() const;
  // The names of ServiceCalls() (or of all calls), in order.
  std::vector<std::string> Names(bool with_last_error = false) const;
  // The calls named `op`.
  std::vector<Call> CallsTo(const std::string& op) const;
  // The last call named `op`; fails the test when there is none.
  Call Last(const std::string& op) const;
  void ClearCalls() { calls_.clear(); }

  // --- inet::Service ----------------------------------------------------------
  inet::HINTERNET InternetOpenA(const char* lpszAgent, inet::DWORD dwAccessType,
                                const char* lpszProxy,
                                const char* lpszProxyBypass,
                                inet::DWORD dwFlags) override;
  inet::HINTERNET InternetConnectA(inet::HINTERNET hInternet,
                                   const char* lpszServerName,
                                   inet::INTERNET_PORT nServerPort,
                                   const char* lpszUserName,
                                   const char* lpszPassword,
                                   inet::DWORD dwService, inet::DWORD dwFlags,
                                   inet::DWORD_PTR dwContext) override;
  inet::BOOL InternetCloseHandle(inet::HINTERNET hInternet) override;
  inet::BOOL FtpPutFileA(inet::HINTERNET hConnect, const char* lpszLocalFile,
                         const char* lpszNewRemoteFile, inet::DWORD dwFlags,
                         inet::DWORD_PTR dwContext) override;
  inet::BOOL FtpGetFileA(inet::HINTERNET hConnect, const char* lpszRemoteFile,
                         const char* lpszNewFile, inet::BOOL fFailIfExists,
                         inet::DWORD dwFlagsAndAttributes, inet::DWORD dwFlags,
                         inet::DWORD_PTR dwContext) override;
  inet::BOOL FtpRenameFileA(inet::HINTERNET hConnect, const char* lpszExisting,
                            const char* lpszNew) override;
  inet::BOOL FtpDeleteFileA(inet::HINTERNET hConnect,
                            const char* lpszFileName) override;
  inet::BOOL FtpCreateDirectoryA(inet::HINTERNET hConnect,
                                 const char* lpszDirectory) override;
  inet::BOOL FtpRemoveDirectoryA(inet::HINTERNET hConnect,
                                 const char* lpszDirectory) override;
  inet::BOOL FtpGetCurrentDirectoryA(inet::HINTERNET hConnect,
                                     char* lpszCurrentDirectory,
                                     inet::DWORD* lpdwCurrentDirectory) override;
  inet::BOOL FtpSetCurrentDirectoryA(inet::HINTERNET hConnect,
                                     const char* lpszDirectory) override;
  inet::HINTERNET FtpFindFirstFileA(inet::HINTERNET hConnect,
                                    const char* lpszSearchFile,
                                    inet::WIN32_FIND_DATAA* lpFindFileData,
                                    inet::DWORD dwFlags,
                                    inet::DWORD_PTR dwContext) override;
  inet::BOOL InternetFindNextFileA(inet::HINTERNET hFind,
                                   inet::WIN32_FIND_DATAA* lpvFindData) override;
  inet::BOOL InternetSetOptionA(inet::HINTERNET hInternet, inet::DWORD dwOption,
                                const void* lpBuffer,
                                inet::DWORD dwBufferLength) override;
  inet::BOOL InternetGetLastResponseInfoA(inet::DWORD* lpdwError,
                                          char* lpszBuffer,
                                          inet::DWORD* lpdwBufferLength) override;
  inet::DWORD FormatMessageA(inet::DWORD dwFlags, const void* lpSource,
                             inet::DWORD dwMessageId, inet::DWORD dwLanguageId,
                             char* lpBuffer, inet::DWORD nSize,
                             void* Arguments) override;
  inet::BOOL FileTimeToSystemTime(const inet::FILETIME* lpFileTime,
                                  inet::SYSTEMTIME* lpSystemTime) override;
  inet::DWORD GetLastError() override;

 private:
  // Records the call and takes its scripted outcome, setting the last error.
  uint64_t Answer(const std::string& op, std::vector<Arg> args);
  void FillFindData(inet::WIN32_FIND_DATAA* record);

  std::vector<Call> calls_;
  std::map<std::string, std::deque<Outcome>> queued_;
  std::map<std::string, Outcome> defaults_;
  inet::DWORD last_error_ = 0;

  inet::DWORD response_code_ = 0;
  std::string response_text_;
  std::map<inet::DWORD, std::string> messages_;
  std::string current_directory_ = "/";
  std::deque<inet::WIN32_FIND_DATAA> find_data_;
  std::deque<inet::SYSTEMTIME> system_times_;
};

}  // namespace testsupport

#endif  // ZORVEX_TESTS_SUPPORT_RECORDING_SERVICE_H_
