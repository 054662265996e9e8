// FtpClient: placeholder implementation that fails every operation, so that
// the layers above can link while the protocol engine is written.
#include "inet/ftp_client.h"

#include <mutex>

#include "inet/errors.h"

namespace inet {
namespace {
thread_local DWORD t_last_error = ERROR_SUCCESS;

template <typename T>
T Fail() {
  t_last_error = ERROR_INTERNET_INTERNAL_ERROR;
  return T{};
}
}  // namespace

struct FtpClient::Impl {
  std::mutex mu;
  FtpClientOptions options;
};

FtpClient::FtpClient(FtpClientOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->options = options;
}
FtpClient::~FtpClient() = default;

void FtpClient::SetOptions(const FtpClientOptions& options) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->options = options;
}
FtpClientOptions FtpClient::options() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->options;
}

HINTERNET FtpClient::InternetOpenA(const char*, DWORD, const char*, const char*, DWORD) {
  return Fail<HINTERNET>();
}
HINTERNET FtpClient::InternetConnectA(HINTERNET, const char*, INTERNET_PORT, const char*,
                                      const char*, DWORD, DWORD, DWORD_PTR) {
  return Fail<HINTERNET>();
}
BOOL FtpClient::InternetCloseHandle(HINTERNET) { return Fail<BOOL>(); }
BOOL FtpClient::FtpPutFileA(HINTERNET, const char*, const char*, DWORD, DWORD_PTR) {
  return Fail<BOOL>();
}
BOOL FtpClient::FtpGetFileA(HINTERNET, const char*, const char*, BOOL, DWORD, DWORD,
                            DWORD_PTR) {
  return Fail<BOOL>();
}
BOOL FtpClient::FtpRenameFileA(HINTERNET, const char*, const char*) { return Fail<BOOL>(); }
BOOL FtpClient::FtpDeleteFileA(HINTERNET, const char*) { return Fail<BOOL>(); }
BOOL FtpClient::FtpCreateDirectoryA(HINTERNET, const char*) { return Fail<BOOL>(); }
BOOL FtpClient::FtpRemoveDirectoryA(HINTERNET, const char*) { return Fail<BOOL>(); }
BOOL FtpClient::FtpGetCurrentDirectoryA(HINTERNET, char*, DWORD*) { return Fail<BOOL>(); }
BOOL FtpClient::FtpSetCurrentDirectoryA(HINTERNET, const char*) { return Fail<BOOL>(); }
HINTERNET FtpClient::FtpFindFirstFileA(HINTERNET, const char*, WIN32_FIND_DATAA*, DWORD,
                                       DWORD_PTR) {
  return Fail<HINTERNET>();
}
BOOL FtpClient::InternetFindNextFileA(HINTERNET, WIN32_FIND_DATAA*) { return Fail<BOOL>(); }
BOOL FtpClient::InternetGetLastResponseInfoA(DWORD*, char*, DWORD*) { return Fail<BOOL>(); }
DWORD FtpClient::FormatMessageA(DWORD, const void*, DWORD, DWORD, char*, DWORD, void*) {
  return Fail<DWORD>();
}
BOOL FtpClient::FileTimeToSystemTime(const FILETIME*, SYSTEMTIME*) { return Fail<BOOL>(); }
DWORD FtpClient::GetLastError() { return t_last_error; }

}  // namespace inet
