#include "ftp/nimbrel.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <utility>

#include "ftp/service_text.h"
#include "inet/errors.h"
#include "inet/ftp_client.h"
#include "platform/locale.h"

namespace zorvex {
namespace {

constexpr char kClassName[] = "Nimbrel Class Module";
constexpr char kVersion[] = "0.9 b";
constexpr char kCopyright[] = "Copyright (C) 2026 The zorvexrun developers";

// Fixed error texts: an unresolvable host name, and no text at all.
constexpr char kNameNotResolved[] = "サーバー名を解決できませんでした。";
constexpr char kNoText[] = "エラーが発生しています。";

// The run-time error number of an overflow, shown by MakeLangId.
constexpr int kOverflowError = 6;

// Buffer sizes: the response and message texts offer 255 of 256 bytes, the
// current directory 260 of 261, so a NUL always ends what comes back.
constexpr size_t kTextBuffer = 256;
constexpr size_t kDirBuffer = 261;

constexpr inet::DWORD kFormatFlags = inet::FORMAT_MESSAGE_FROM_SYSTEM |
                                     inet::FORMAT_MESSAGE_IGNORE_INSERTS |
                                     inet::FORMAT_MESSAGE_MAX_WIDTH_MASK;

const char* OrNull(const std::optional<std::string>& ansi) {
  return ansi ? ansi->c_str() : nullptr;
}

std::optional<std::string> AnsiOrNone(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return Ansi(*text);
}

std::optional<std::string> NoneIfEmpty(std::string_view text) {
  if (text.empty()) return std::nullopt;
  return std::string(text);
}

// Without a shower of the caller's, a message is one line on standard error.
void ShowOnStandardError(std::string_view text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
    text.remove_suffix(1);
  const std::string line = platform::ToAnsi(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation and termination

Nimbrel::Nimbrel(std::shared_ptr<inet::Service> service,
                 MessageShower show_message)
    : service_(service ? std::move(service)
                       : std::make_shared<inet::FtpClient>()),
      show_message_(show_message ? std::move(show_message)
                                 : MessageShower(ShowOnStandardError)) {
  hInternet_ = service_->InternetOpenA(nullptr, inet::INTERNET_OPEN_TYPE_PRECONFIG,
                                       nullptr, nullptr, 0);
  if (hInternet_ == 0) RaiseFtpError(LastError());
  RemotePort_ = inet::INTERNET_DEFAULT_FTP_PORT;
}

Nimbrel::~Nimbrel() {
  try {
    RemoteFile_ = nullptr;
    CloseSession();
  } catch (...) {
    // A listener's exception cannot leave a destructor.
  }
  try {
    if (!service_->InternetCloseHandle(hInternet_)) RaiseFtpError(LastError());
  } catch (...) {
  }
}

// ---------------------------------------------------------------------------
// Properties

std::shared_ptr<FTPFile> Nimbrel::RemoteFile() {
  if (!RemoteFile_) RemoteFile_ = std::make_shared<FTPFile>();
  return RemoteFile_;
}

void Nimbrel::RemoteFile(std::shared_ptr<FTPFile> record) {
  RemoteFile_ = std::move(record);
}

std::string Nimbrel::ClassName() const { return kClassName; }
std::string Nimbrel::Version() const { return kVersion; }
std::string Nimbrel::Copyright() const { return kCopyright; }

int32_t Nimbrel::hInternet() const { return static_cast<int32_t>(hInternet_); }
int32_t Nimbrel::hFTP() const { return static_cast<int32_t>(hFTP_); }

int32_t Nimbrel::RemotePort() const { return RemotePort_; }
void Nimbrel::RemotePort(int32_t nRemotePort) { RemotePort_ = nRemotePort; }

std::string Nimbrel::RemoteHost() const { return RemoteHost_.value_or(""); }
void Nimbrel::RemoteHost(std::string_view szRemoteHost) {
  RemoteHost_ = NoneIfEmpty(szRemoteHost);
}

std::string Nimbrel::User() const { return User_.value_or(""); }
void Nimbrel::User(std::string_view szUser) { User_ = NoneIfEmpty(szUser); }

std::string Nimbrel::Password() const { return Password_.value_or(""); }
void Nimbrel::Password(std::string_view szPassword) {
  Password_ = NoneIfEmpty(szPassword);
}

bool Nimbrel::PassiveFlag() const {
  return PassiveFlag_ == inet::INTERNET_FLAG_PASSIVE;
}
void Nimbrel::PassiveFlag(bool bPassive) {
  PassiveFlag_ = bPassive ? inet::INTERNET_FLAG_PASSIVE : 0;
}

std::string Nimbrel::CurDir() {
  char buffer[kDirBuffer] = {};
  inet::DWORD length = kDirBuffer - 1;
  std::string dir;
  if (service_->FtpGetCurrentDirectoryA(hFTP_, buffer, &length)) {
    dir = FromBuffer(buffer, kDirBuffer);
  } else {
    RaiseFtpError(LastError());
  }
  RethrowListenerException();
  return dir;
}

void Nimbrel::CurDir(std::string_view szDir) {
  std::string_view dir = szDir;
  if (!dir.empty() && (dir.front() == '/' || dir.front() == '\\'))
    dir.remove_prefix(1);
  const std::string ansi = Ansi(dir);
  if (!service_->FtpSetCurrentDirectoryA(hFTP_, ansi.c_str()))
    RaiseFtpError(LastError());
  RethrowListenerException();
}

// ---------------------------------------------------------------------------
// Session

void Nimbrel::OpenSession() {
  const std::optional<std::string> host = AnsiOrNone(RemoteHost_);
  const std::optional<std::string> user = AnsiOrNone(User_);
  const std::optional<std::string> password = AnsiOrNone(Password_);
  inet::DWORD flags = PassiveFlag_;
  if (Security_ != FtpSecurity::kPlain) {
    flags |= inet::INTERNET_FLAG_SECURE;
    if (Security_ == FtpSecurity::kImplicitTls)
      flags |= inet::INTERNET_FLAG_SECURE_IMPLICIT;
    // The trust of this session, set every time: an earlier session's file
    // must not linger.
    const std::string trust = Ansi(TrustFile_);
    if (!service_->InternetSetOptionA(
            hInternet_, inet::INTERNET_OPTION_TRUST_FILE, trust.data(),
            static_cast<inet::DWORD>(trust.size()))) {
      hFTP_ = 0;
      RaiseFtpError(LastError());
      RethrowListenerException();
      return;
    }
  }
  ApplyTransferOptions();
  hFTP_ = service_->InternetConnectA(hInternet_, OrNull(host), RemotePort_,
                                     OrNull(user), OrNull(password),
                                     inet::INTERNET_SERVICE_FTP, flags, 0);
  if (hFTP_ == 0) RaiseFtpError(LastError());
  RethrowListenerException();
}

FtpSecurity Nimbrel::Security() const { return Security_; }
void Nimbrel::Security(FtpSecurity security) { Security_ = security; }
std::string Nimbrel::TrustFile() const { return TrustFile_; }
void Nimbrel::TrustFile(std::string_view szPath) { TrustFile_ = szPath; }

inet::FtpClientOptions Nimbrel::ClientOptions() const {
  const auto* client = dynamic_cast<const inet::FtpClient*>(service_.get());
  return client != nullptr ? client->options() : inet::FtpClientOptions{};
}

void Nimbrel::ApplyTransferOptions() {
  auto* client = dynamic_cast<inet::FtpClient*>(service_.get());
  if (client == nullptr) return;
  inet::FtpClientOptions options = client->options();
  if (VerifyUpload_) options.verify_upload = *VerifyUpload_;
  if (KeepAlive_) options.keepalive = *KeepAlive_;
  if (Retries_) options.retries = *Retries_;
  if (AtomicUpload_) options.atomic_upload = *AtomicUpload_;
  client->SetOptions(options);
}

bool Nimbrel::VerifyUpload() const {
  return VerifyUpload_.value_or(ClientOptions().verify_upload);
}
void Nimbrel::VerifyUpload(bool bVerify) { VerifyUpload_ = bVerify; }
bool Nimbrel::KeepAlive() const {
  return KeepAlive_.value_or(ClientOptions().keepalive);
}
void Nimbrel::KeepAlive(bool bKeepAlive) { KeepAlive_ = bKeepAlive; }
int32_t Nimbrel::Retries() const {
  return Retries_.value_or(ClientOptions().retries);
}
void Nimbrel::Retries(int32_t nRetries) {
  Retries_ = nRetries < 0 ? 0 : nRetries;
}
bool Nimbrel::AtomicUpload() const {
  return AtomicUpload_.value_or(ClientOptions().atomic_upload);
}
void Nimbrel::AtomicUpload(bool bAtomic) { AtomicUpload_ = bAtomic; }

void Nimbrel::CloseSession() {
  CloseFind();
  if (hFTP_ != 0) {
    if (service_->InternetCloseHandle(hFTP_)) {
      hFTP_ = 0;
    } else {
      RaiseFtpError(LastError());
    }
  }
  RethrowListenerException();
}

// ---------------------------------------------------------------------------
// Transfers

int32_t Nimbrel::PutFile(std::string_view szLocalFile,
                         std::string_view szRemoteFile, int32_t nTransfer) {
  const inet::DWORD flags = nTransfer == 1 ? inet::FTP_TRANSFER_TYPE_ASCII
                                           : inet::FTP_TRANSFER_TYPE_BINARY;
  const std::string local = Ansi(szLocalFile);
  const std::string remote = Ansi(szRemoteFile);
  const inet::BOOL ok =
      service_->FtpPutFileA(hFTP_, local.c_str(), remote.c_str(), flags, 0);
  if (ok == 0) RaiseFtpError(LastError());
  RethrowListenerException();
  return ok;
}

int32_t Nimbrel::GetFile(std::string_view szRemoteFile,
                         std::string_view szLocalFile, bool bFailExists,
                         int32_t nTransfer) {
  const inet::DWORD flags =
      inet::INTERNET_FLAG_RELOAD | (nTransfer == 1
                                        ? inet::FTP_TRANSFER_TYPE_ASCII
                                        : inet::FTP_TRANSFER_TYPE_BINARY);
  const inet::BOOL fail_if_exists = bFailExists ? 1 : 0;
  const std::string remote = Ansi(szRemoteFile);
  const std::string local = Ansi(szLocalFile);
  const inet::BOOL ok = service_->FtpGetFileA(
      hFTP_, remote.c_str(), local.c_str(), fail_if_exists, 0, flags, 0);
  if (ok == 0) RaiseFtpError(LastError());
  RethrowListenerException();
  return ok;
}

// ---------------------------------------------------------------------------
// Remote files and directories

int32_t Nimbrel::RenameFile(std::string_view szExistFile,
                            std::string_view szNewFile) {
  const std::string exist = Ansi(szExistFile);
  const std::string renamed = Ansi(szNewFile);
  const inet::BOOL ok =
      service_->FtpRenameFileA(hFTP_, exist.c_str(), renamed.c_str());
  if (ok == 0) RaiseFtpError(LastError());
  RethrowListenerException();
  return ok;
}

int32_t Nimbrel::DeleteFile(std::string_view szRemoteFile) {
  const std::string name = Ansi(szRemoteFile);
  const inet::BOOL ok = service_->FtpDeleteFileA(hFTP_, name.c_str());
  if (ok == 0) RaiseFtpError(LastError());
  RethrowListenerException();
  return ok;
}

int32_t Nimbrel::CreateDir(std::string_view szRemoteDir) {
  const std::string name = Ansi(szRemoteDir);
  const inet::BOOL ok = service_->FtpCreateDirectoryA(hFTP_, name.c_str());
  if (ok == 0) RaiseFtpError(LastError());
  RethrowListenerException();
  return ok;
}

int32_t Nimbrel::RemoveDir(std::string_view szRemoteDir) {
  const std::string name = Ansi(szRemoteDir);
  const inet::BOOL ok = service_->FtpRemoveDirectoryA(hFTP_, name.c_str());
  if (ok == 0) RaiseFtpError(LastError());
  RethrowListenerException();
  return ok;
}

// ---------------------------------------------------------------------------
// Event

void Nimbrel::OnFTPFrr(FTPFrrListener listener) {
  listeners_.push_back(std::move(listener));
}

// ---------------------------------------------------------------------------
// Private operations

void Nimbrel::RaiseFtpError(int32_t nError) {
  if (nError == static_cast<int32_t>(inet::ERROR_NO_MORE_FILES)) {
    RemoteFile()->SearchEnd = true;
    return;
  }

  std::string text;
  if (nError == static_cast<int32_t>(inet::ERROR_INTERNET_EXTENDED_ERROR)) {
    inet::DWORD error = static_cast<inet::DWORD>(nError);
    char buffer[kTextBuffer] = {};
    inet::DWORD length = kTextBuffer - 1;
    service_->InternetGetLastResponseInfoA(&error, buffer, &length);
    nError = static_cast<int32_t>(error);
    text = FromBuffer(buffer, kTextBuffer);
  } else if (nError ==
             static_cast<int32_t>(inet::ERROR_INTERNET_NAME_NOT_RESOLVED)) {
    text = kNameNotResolved;
  } else {
    text = GetSystemMessage(nError);
  }
  if (text.empty()) text = kNoText;

  // Every listener hears of the failure, in the order they were added, even
  // when one of them throws; the first exception is kept until the operation
  // has finished (see RethrowListenerException). Indexing, not iterators: a
  // listener may add another listener.
  for (size_t i = 0; i < listeners_.size(); ++i) {
    const FTPFrrListener listener = listeners_[i];
    try {
      if (listener) listener(nError, text);
    } catch (...) {
      if (!pending_) pending_ = std::current_exception();
    }
  }
}

std::string Nimbrel::GetSystemMessage(int32_t nMessageId) {
  const int32_t language = MakeLangId(0, 1);
  char buffer[kTextBuffer] = {};
  inet::DWORD n = service_->FormatMessageA(
      kFormatFlags, nullptr, static_cast<inet::DWORD>(nMessageId),
      static_cast<inet::DWORD>(language), buffer, kTextBuffer - 1, nullptr);
  // Never more than the buffer offered, whatever the count says.
  if (n > kTextBuffer - 1) n = kTextBuffer - 1;
  return FromBuffer(buffer, n);
}

int32_t Nimbrel::MakeLangId(int16_t nPrimary, int32_t nSub) {
  const double value =
      static_cast<double>(nSub) * 1024.0 + static_cast<double>(nPrimary);
  const double rounded = std::nearbyint(value);
  if (!(rounded >= static_cast<double>(std::numeric_limits<int32_t>::min()) &&
        rounded <= static_cast<double>(std::numeric_limits<int32_t>::max()))) {
    show_message_(std::to_string(kOverflowError) + "\r\n");
    return 0;
  }
  return static_cast<int32_t>(rounded);
}

int32_t Nimbrel::LastError() {
  return static_cast<int32_t>(service_->GetLastError());
}

void Nimbrel::RethrowListenerException() {
  if (pending_) std::rethrow_exception(std::exchange(pending_, nullptr));
}

}  // namespace zorvex
