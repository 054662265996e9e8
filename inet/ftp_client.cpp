// FtpClient: the service's handles and arguments over our FTP client; here
// the session (open, connect, options, close) and the transfers.
//
// A connection handle owns one ControlConnection; each member checks its
// arguments, then runs its steps on the connection under the connection's
// lock (client_calls.h). The protocol is in control_connection.cpp, one
// attempt at a transfer in upload_steps.cpp and download_steps.cpp, the
// attempts again after a failure that may pass in retry.cpp, the data of a
// transfer in file_transfer.cpp, the local side of a download in
// local_file.cpp, the remote operations and the search in
// ftp_client_remote.cpp, and the kernel members in kernel_services.cpp.
#include "inet/ftp_client.h"

#include <algorithm>
#include <optional>
#include <string>

#include "inet/client_calls.h"
#include "inet/local_file.h"
#include "inet/retry.h"
#include "inet/transfer_steps.h"

namespace inet {
namespace {

TransferType TypeOf(DWORD flags) {
  return (flags & 3) == FTP_TRANSFER_TYPE_ASCII ? TransferType::kAscii
                                                : TransferType::kBinary;
}

// Runs one transfer's attempts on an open connection, under its lock. A
// connection lost earlier is connected again when retries are allowed.
template <typename Step>
BOOL TransferOn(const std::shared_ptr<Connection>& conn, platform::Env* env,
                Step&& step) {
  if (!conn) return Failure(ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lock(conn->mu);
  const bool reconnect = conn->options().retries > 0;
  if (conn->broken() != 0 && !(reconnect && conn->lost()))
    return Failure(conn->broken());
  if (DWORD e = RunAttempts(*conn, env, reconnect, /*renew=*/true, step))
    return Failure(e);
  return Succeed();
}

}  // namespace

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
    bool first = true;
    e = RunAttempts(*conn, impl_->env, /*reconnect_lost=*/false,
                    /*renew=*/false, [&] {
                      if (!first) return conn->Reconnect();
                      first = false;
                      return conn->Connect(host, port, *user, *password);
                    });
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
  return TransferOn(conn, impl_->env, [&] {
    return UploadFile(*conn, *file, *remote, type);
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
  // A download that was cut keeps its bytes in the temporary file for the
  // next attempt; the file goes away with `target` unless committed.
  return TransferOn(conn, impl_->env, [&]() -> DWORD {
    if (DWORD e = DownloadFile(*conn, target, *remote, type)) return e;
    return target.Commit();
  });
}

}  // namespace inet
