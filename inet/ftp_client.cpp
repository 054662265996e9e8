// FtpClient: the service's handles and arguments over our FTP client.
//
// A connection handle owns one ControlConnection; each operation checks its
// arguments, then runs its steps on the connection under the connection's
// lock. The protocol is in control_connection.cpp, the data of a transfer in
// file_transfer.cpp, the local side of a download in local_file.cpp, the
// search in remote_search.cpp, and the kernel members in kernel_services.cpp.
#include "inet/ftp_client.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "inet/control_connection.h"
#include "inet/data_address.h"
#include "inet/entry_list.h"
#include "inet/errors.h"
#include "inet/file_transfer.h"
#include "inet/handles.h"
#include "inet/last_error.h"
#include "inet/local_file.h"
#include "inet/remote_search.h"
#include "platform/env.h"
#include "platform/locale.h"

namespace inet {
namespace {

constexpr BOOL kTrue = 1;

BOOL Succeed() {
  SetLastError(ERROR_SUCCESS);
  return kTrue;
}

// Sets the thread's last error; returns the zero result of any operation.
struct Failure {
  explicit Failure(DWORD error) { SetLastError(error); }
  operator BOOL() const { return 0; }       // NOLINT
  operator HINTERNET() const { return 0; }  // NOLINT
};

// A name for the control connection: converted from the ANSI code page to
// UTF-8; nullopt when it holds a line break, which would end the command
// early and let the rest pass as a command of its own.
std::optional<std::string> WireText(const char* ansi) {
  std::string text = platform::FromAnsi(ansi);
  if (text.find_first_of("\r\n") != std::string::npos) return std::nullopt;
  return text;
}

TransferType TypeOf(DWORD flags) {
  return (flags & 3) == FTP_TRANSFER_TYPE_ASCII ? TransferType::kAscii
                                                : TransferType::kBinary;
}

// An Internet handle's options, read by the connections opened on it.
struct Internet {
  std::mutex mu;
  std::string trust_file;
};

struct Search {
  EntryList entries;  // names already in the ANSI code page
  size_t next = 0;
};

using Connection = ControlConnection;

// Runs `steps` on an open connection, under its lock; their error, if any,
// becomes the call's failure.
template <typename Steps>
BOOL OnConnection(const std::shared_ptr<Connection>& conn, Steps&& steps) {
  if (!conn) return Failure(ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lock(conn->mu);
  if (conn->broken() != 0) return Failure(conn->broken());
  if (DWORD e = steps(*conn)) return Failure(e);
  return Succeed();
}

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

// The size of the remote file as the server tells it (nullopt when it does
// not): lets a cut transfer be caught even when the server reports success.
DWORD RemoteSize(Connection& conn, const std::string& remote,
                 std::optional<uint64_t>* size) {
  Reply r;
  if (DWORD e = conn.Command("SIZE " + remote, &r)) return e;
  if (r.code == 213) *size = ParseSizeReply(r.text);
  return 0;
}

}  // namespace

struct FtpClient::Impl {
  mutable std::mutex mu;
  FtpClientOptions options;
  platform::Env* env = nullptr;
  HandleTable handles;

  std::shared_ptr<Internet> GetInternet(HINTERNET h) {
    return handles.Get<Internet>(h, HandleKind::kInternet);
  }
  std::shared_ptr<Connection> GetConnection(HINTERNET h) {
    return handles.Get<Connection>(h, HandleKind::kConnection);
  }
  static void CloseRemoved(const std::vector<HandleTable::Removed>& removed) {
    for (const auto& item : removed) {
      if (item.kind != HandleKind::kConnection) continue;
      auto conn = std::static_pointer_cast<Connection>(item.object);
      std::lock_guard<std::mutex> lock(conn->mu);
      conn->Quit();
    }
  }
};

FtpClient::FtpClient(FtpClientOptions options, platform::Env* env)
    : impl_(std::make_unique<Impl>()) {
  impl_->options = options;
  impl_->env = env != nullptr ? env : platform::Env::Default();
}

FtpClient::~FtpClient() { Impl::CloseRemoved(impl_->handles.RemoveAll()); }

void FtpClient::SetOptions(const FtpClientOptions& options) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->options = options;
}

FtpClientOptions FtpClient::options() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->options;
}

HINTERNET FtpClient::InternetOpenA(const char*, DWORD dwAccessType,
                                   const char*, const char*, DWORD) {
  // Preconfigured (0), direct (1) and preconfigured without auto-proxy (4)
  // all connect directly; a named proxy (3) is not supported.
  if (dwAccessType != 0 && dwAccessType != 1 && dwAccessType != 4)
    return Failure(ERROR_INVALID_PARAMETER);
  const HINTERNET h = impl_->handles.Add(HandleKind::kInternet, 0,
                                         std::make_shared<Internet>());
  if (h == 0) return Failure(ERROR_INTERNET_OUT_OF_HANDLES);
  SetLastError(ERROR_SUCCESS);
  return h;
}

HINTERNET FtpClient::InternetConnectA(HINTERNET hInternet,
                                      const char* lpszServerName,
                                      INTERNET_PORT nServerPort,
                                      const char* lpszUserName,
                                      const char* lpszPassword,
                                      DWORD dwService, DWORD dwFlags,
                                      DWORD_PTR) {
  const std::shared_ptr<Internet> internet = impl_->GetInternet(hInternet);
  if (!internet) return Failure(ERROR_INVALID_HANDLE);
  if (dwService != INTERNET_SERVICE_FTP) return Failure(ERROR_INVALID_PARAMETER);
  if (nServerPort < 0 || nServerPort > 65535)
    return Failure(ERROR_INVALID_PARAMETER);
  // No host at all cannot be resolved either.
  if (lpszServerName == nullptr || *lpszServerName == '\0')
    return Failure(ERROR_INTERNET_NAME_NOT_RESOLVED);
  std::string host = platform::FromAnsi(lpszServerName);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  ConnectionSecurity security;
  if ((dwFlags & INTERNET_FLAG_SECURE) != 0) {
    security.mode = (dwFlags & INTERNET_FLAG_SECURE_IMPLICIT) != 0
                        ? ConnectionSecurity::Mode::kImplicit
                        : ConnectionSecurity::Mode::kExplicit;
    std::lock_guard<std::mutex> lock(internet->mu);
    security.trust_file = internet->trust_file;
  }
  const INTERNET_PORT default_port =
      security.mode == ConnectionSecurity::Mode::kImplicit
          ? INTERNET_DEFAULT_FTPS_PORT
          : INTERNET_DEFAULT_FTP_PORT;
  const uint16_t port =
      static_cast<uint16_t>(nServerPort == 0 ? default_port : nServerPort);
  // No user: anonymous, with the conventional e-mail-like password.
  const std::optional<std::string> user =
      lpszUserName ? WireText(lpszUserName) : std::string("anonymous");
  const std::optional<std::string> password =
      lpszPassword ? WireText(lpszPassword)
                   : std::string(lpszUserName ? "" : "anonymous@");
  if (!user || !password) return Failure(ERROR_INVALID_PARAMETER);

  auto conn = std::make_shared<Connection>(
      impl_->env, options(), (dwFlags & INTERNET_FLAG_PASSIVE) != 0,
      std::move(security));
  DWORD e;
  {
    std::lock_guard<std::mutex> lock(conn->mu);
    e = conn->Open(host, port);
    if (e == 0) e = conn->Login(*user, *password);
    if (e != 0) conn->Quit(/*keep_last_response=*/true);
  }
  if (e != 0) return Failure(e);
  const HINTERNET h =
      impl_->handles.Add(HandleKind::kConnection, hInternet, conn);
  if (h == 0 || !impl_->handles.Contains(hInternet)) {
    // The Internet handle was closed meanwhile, or no handle is left.
    if (h != 0) impl_->handles.Remove(h);
    std::lock_guard<std::mutex> lock(conn->mu);
    conn->Quit();
    return Failure(h == 0 ? ERROR_INTERNET_OUT_OF_HANDLES
                          : ERROR_INVALID_HANDLE);
  }
  SetLastError(ERROR_SUCCESS);
  return h;
}

BOOL FtpClient::InternetSetOptionA(HINTERNET hInternet, DWORD dwOption,
                                   const void* lpBuffer,
                                   DWORD dwBufferLength) {
  const std::shared_ptr<Internet> internet = impl_->GetInternet(hInternet);
  if (!internet) return Failure(ERROR_INVALID_HANDLE);
  if (dwOption != INTERNET_OPTION_TRUST_FILE)
    return Failure(ERROR_INTERNET_INVALID_OPTION);
  if (lpBuffer == nullptr && dwBufferLength != 0)
    return Failure(ERROR_INVALID_PARAMETER);
  std::string path;
  if (lpBuffer != nullptr)
    path.assign(static_cast<const char*>(lpBuffer), dwBufferLength);
  // A C string's NUL may come along with the length.
  path.resize(std::min(path.size(), path.find('\0')));
  std::lock_guard<std::mutex> lock(internet->mu);
  internet->trust_file = std::move(path);
  return Succeed();
}

BOOL FtpClient::InternetCloseHandle(HINTERNET hInternet) {
  auto removed = impl_->handles.Remove(hInternet);
  if (removed.empty()) return Failure(ERROR_INVALID_HANDLE);
  Impl::CloseRemoved(removed);
  return Succeed();
}

BOOL FtpClient::FtpPutFileA(HINTERNET hConnect, const char* lpszLocalFile,
                            const char* lpszNewRemoteFile, DWORD dwFlags,
                            DWORD_PTR) {
  auto conn = impl_->GetConnection(hConnect);
  if (!conn) return Failure(ERROR_INVALID_HANDLE);
  if (lpszLocalFile == nullptr || lpszNewRemoteFile == nullptr ||
      *lpszLocalFile == '\0')
    return Failure(ERROR_INVALID_PARAMETER);
  const std::optional<std::string> remote = WireText(lpszNewRemoteFile);
  if (!remote) return Failure(ERROR_INVALID_NAME);

  // The local file is opened before anything goes to the server.
  std::unique_ptr<platform::File> file;
  if (DWORD e = impl_->env->OpenForReading(lpszLocalFile, &file))
    return Failure(e);
  const TransferType type = TypeOf(dwFlags);
  return OnConnection(conn, [&](Connection& c) -> DWORD {
    if (DWORD e = c.SetType(type == TransferType::kAscii ? 'A' : 'I')) return e;
    Reply last;
    return c.Transfer("STOR " + *remote,
                      [&](const Reply&, platform::Stream& data) {
                        return SendFileData(data, *file, type,
                                            c.options().io_timeout_ms);
                      },
                      &last);
  });
}

BOOL FtpClient::FtpGetFileA(HINTERNET hConnect, const char* lpszRemoteFile,
                            const char* lpszNewFile, BOOL fFailIfExists,
                            DWORD, DWORD dwFlags, DWORD_PTR) {
  auto conn = impl_->GetConnection(hConnect);
  if (!conn) return Failure(ERROR_INVALID_HANDLE);
  if (lpszRemoteFile == nullptr || lpszNewFile == nullptr ||
      *lpszNewFile == '\0')
    return Failure(ERROR_INVALID_PARAMETER);
  const std::optional<std::string> remote = WireText(lpszRemoteFile);
  if (!remote) return Failure(ERROR_INVALID_NAME);

  // The download goes to a temporary file beside the target, which replaces
  // the target only once the whole file has arrived: a failed transfer never
  // destroys the copy the user already has.
  DownloadTarget target(impl_->env);
  if (DWORD e = target.Create(lpszNewFile, fFailIfExists != 0))
    return Failure(e);
  const TransferType type = TypeOf(dwFlags);
  return OnConnection(conn, [&](Connection& c) -> DWORD {
    if (DWORD e = c.SetType(type == TransferType::kAscii ? 'A' : 'I')) return e;
    std::optional<uint64_t> expected;
    if (type == TransferType::kBinary) {
      if (DWORD e = RemoteSize(c, *remote, &expected)) return e;
    }
    uint64_t received = 0;
    Reply last;
    DWORD e = c.Transfer(
        "RETR " + *remote,
        [&](const Reply& preliminary, platform::Stream& data) -> DWORD {
          if (type == TransferType::kBinary && !expected)
            expected = ParseAnnouncedSize(preliminary.text);
          if (DWORD e = ReceiveFileData(data, target.file(), type,
                                        c.options().io_timeout_ms, &received))
            return e;
          // A secured stream that ended without its closing message was
          // cut, unless the size the server announced has arrived.
          if (!data.EndedInOrder() && !expected)
            return ERROR_INTERNET_CONNECTION_ABORTED;
          return 0;
        },
        &last);
    if (e != 0) return e;
    if (expected && received != *expected)
      return ERROR_INTERNET_CONNECTION_ABORTED;
    return target.Commit();
  });
}

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
