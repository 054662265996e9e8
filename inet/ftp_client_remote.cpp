// FtpClient's remote operations (rename, delete, make and remove folders,
// the current folder) and its search handles.
#include <cstring>
#include <optional>
#include <string>

#include "inet/client_calls.h"
#include "inet/remote_search.h"

namespace inet {
namespace {

BOOL SimpleCommand(const std::shared_ptr<Connection>& conn, const char* verb,
                   const char* name) {
  if (!conn) return Failure(ERROR_INVALID_HANDLE);
  if (name == nullptr) return Failure(ERROR_INVALID_PARAMETER);
  const std::optional<std::string> wire = WireText(name);
  if (!wire) return Failure(ERROR_INVALID_NAME);
  return OnConnection(conn, [&](Connection& c) {
    return c.Expect(std::string(verb) + " " + *wire, 2);
  });
}

}  // namespace

BOOL FtpClient::FtpRenameFileA(HINTERNET hConnect, const char* lpszExisting,
                               const char* lpszNew) {
  auto conn = impl_->GetConnection(hConnect);
  if (!conn) return Failure(ERROR_INVALID_HANDLE);
  if (lpszExisting == nullptr || lpszNew == nullptr)
    return Failure(ERROR_INVALID_PARAMETER);
  const std::optional<std::string> from = WireText(lpszExisting);
  const std::optional<std::string> to = WireText(lpszNew);
  if (!from || !to) return Failure(ERROR_INVALID_NAME);
  return OnConnection(conn, [&](Connection& c) {
    DWORD e = c.Expect("RNFR " + *from, 3);
    if (e == 0) e = c.Expect("RNTO " + *to, 2);
    return e;
  });
}

BOOL FtpClient::FtpDeleteFileA(HINTERNET hConnect, const char* lpszFileName) {
  return SimpleCommand(impl_->GetConnection(hConnect), "DELE", lpszFileName);
}

BOOL FtpClient::FtpCreateDirectoryA(HINTERNET hConnect,
                                    const char* lpszDirectory) {
  return SimpleCommand(impl_->GetConnection(hConnect), "MKD", lpszDirectory);
}

BOOL FtpClient::FtpRemoveDirectoryA(HINTERNET hConnect,
                                    const char* lpszDirectory) {
  return SimpleCommand(impl_->GetConnection(hConnect), "RMD", lpszDirectory);
}

BOOL FtpClient::FtpSetCurrentDirectoryA(HINTERNET hConnect,
                                        const char* lpszDirectory) {
  return SimpleCommand(impl_->GetConnection(hConnect), "CWD", lpszDirectory);
}

BOOL FtpClient::FtpGetCurrentDirectoryA(HINTERNET hConnect,
                                        char* lpszCurrentDirectory,
                                        DWORD* lpdwCurrentDirectory) {
  auto conn = impl_->GetConnection(hConnect);
  if (!conn) return Failure(ERROR_INVALID_HANDLE);
  if (lpszCurrentDirectory == nullptr || lpdwCurrentDirectory == nullptr)
    return Failure(ERROR_INVALID_PARAMETER);
  return OnConnection(conn, [&](Connection& c) -> DWORD {
    Reply r;
    if (DWORD e = c.Expect("PWD", 2, &r)) return e;
    std::optional<std::string> path;
    if (r.code == 257) path = ParseQuotedPath(r.text);
    // A reply without a well-formed quoted path is kept as the last response.
    if (!path) return ERROR_INTERNET_EXTENDED_ERROR;
    const std::string ansi = platform::ToAnsi(*path);
    // A path that does not fit is never cut: the caller learns the size.
    if (ansi.size() + 1 > *lpdwCurrentDirectory) {
      *lpdwCurrentDirectory = static_cast<DWORD>(ansi.size() + 1);
      return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memcpy(lpszCurrentDirectory, ansi.data(), ansi.size());
    lpszCurrentDirectory[ansi.size()] = '\0';
    *lpdwCurrentDirectory = static_cast<DWORD>(ansi.size());
    return 0;
  });
}

HINTERNET FtpClient::FtpFindFirstFileA(HINTERNET hConnect,
                                       const char* lpszSearchFile,
                                       WIN32_FIND_DATAA* lpFindFileData,
                                       DWORD, DWORD_PTR) {
  auto conn = impl_->GetConnection(hConnect);
  if (!conn) return Failure(ERROR_INVALID_HANDLE);
  if (lpFindFileData == nullptr) return Failure(ERROR_INVALID_PARAMETER);
  auto search = std::make_shared<inet::Search>();
  if (!OnConnection(conn, [&](Connection& c) -> DWORD {
        const std::optional<std::string> wire =
            WireText(lpszSearchFile ? lpszSearchFile : "");
        if (!wire) return ERROR_INVALID_NAME;
        return FindRemote(c, *wire, &search->entries);
      }))
    return 0;  // the last error is set
  FillFindData(search->entries[0], lpFindFileData);
  search->next = 1;
  const HINTERNET h = impl_->handles.Add(HandleKind::kSearch, hConnect, search);
  if (h == 0) return Failure(ERROR_INTERNET_OUT_OF_HANDLES);
  if (!impl_->handles.Find(hConnect, HandleKind::kConnection)) {
    impl_->handles.Remove(h);  // the connection was closed meanwhile
    return Failure(ERROR_INVALID_HANDLE);
  }
  SetLastError(ERROR_SUCCESS);
  return h;
}

BOOL FtpClient::InternetFindNextFileA(HINTERNET hFind,
                                      WIN32_FIND_DATAA* lpvFindData) {
  auto search = impl_->handles.Get<inet::Search>(hFind, HandleKind::kSearch);
  if (!search) return Failure(ERROR_INVALID_HANDLE);
  if (lpvFindData == nullptr) return Failure(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (search->next >= search->entries.size())
    return Failure(ERROR_NO_MORE_FILES);
  FillFindData(search->entries[search->next++], lpvFindData);
  return Succeed();
}

}  // namespace inet
