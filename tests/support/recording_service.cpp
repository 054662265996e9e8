#include "tests/support/recording_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "inet/errors.h"
#include "inet/filetime.h"

namespace testsupport {
namespace {

std::optional<std::string> Text(const char* s) {
  if (s == nullptr) return std::nullopt;
  return std::string(s);
}

uint64_t Ptr(const void* p) { return p == nullptr ? 0 : 1; }

// Copies `text` into a buffer of `capacity` bytes: as much as fits, with the
// NUL only when there is room for it. Returns the bytes copied.
size_t CopyOut(const std::string& text, char* buffer, size_t capacity) {
  const size_t n = std::min(text.size(), capacity);
  std::memcpy(buffer, text.data(), n);
  if (n < capacity) buffer[n] = '\0';
  return n;
}

}  // namespace

uint64_t Call::Num(size_t index) const {
  if (index >= args.size() || !std::holds_alternative<uint64_t>(args[index])) {
    ADD_FAILURE() << "argument " << index << " of " << ToString()
                  << " is not a number";
    return 0;
  }
  return std::get<uint64_t>(args[index]);
}

std::optional<std::string> Call::Str(size_t index) const {
  if (index >= args.size() ||
      !std::holds_alternative<std::optional<std::string>>(args[index])) {
    ADD_FAILURE() << "argument " << index << " of " << ToString()
                  << " is not a string";
    return std::nullopt;
  }
  return std::get<std::optional<std::string>>(args[index]);
}

std::string Call::ToString() const {
  std::ostringstream os;
  os << name << "(";
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) os << ", ";
    if (const auto* n = std::get_if<uint64_t>(&args[i])) {
      os << *n;
    } else {
      const auto& s = std::get<std::optional<std::string>>(args[i]);
      if (s) {
        os << '"' << *s << '"';
      } else {
        os << "null";
      }
    }
  }
  os << ")";
  return os.str();
}

std::ostream& operator<<(std::ostream& os, const Call& call) {
  return os << call.ToString();
}

RecordingService::RecordingService() {
  defaults_["InternetOpenA"] = {1, 0};
  defaults_["InternetConnectA"] = {2, 0};
  defaults_["FtpFindFirstFileA"] = {3, 0};
}

RecordingService& RecordingService::Then(const std::string& op,
                                         uint64_t result, inet::DWORD error) {
  queued_[op].push_back(Outcome{result, error});
  return *this;
}

RecordingService& RecordingService::Fail(const std::string& op,
                                         inet::DWORD error) {
  return Then(op, 0, error);
}

RecordingService& RecordingService::Default(const std::string& op,
                                            uint64_t result,
                                            inet::DWORD error) {
  defaults_[op] = Outcome{result, error};
  return *this;
}

void RecordingService::SetResponse(inet::DWORD code, std::string text) {
  response_code_ = code;
  response_text_ = std::move(text);
}

void RecordingService::SetMessage(inet::DWORD id, std::string text) {
  messages_[id] = std::move(text);
}

void RecordingService::SetCurrentDirectory(std::string text) {
  current_directory_ = std::move(text);
}

void RecordingService::AddFindData(const inet::WIN32_FIND_DATAA& record) {
  find_data_.push_back(record);
}

void RecordingService::AddSystemTime(const inet::SYSTEMTIME& fields) {
  system_times_.push_back(fields);
}

inet::WIN32_FIND_DATAA RecordingService::FindData(const std::string& name,
                                                  inet::DWORD attributes,
                                                  inet::DWORD size_high,
                                                  inet::DWORD size_low,
                                                  inet::FILETIME last_write) {
  inet::WIN32_FIND_DATAA record{};
  record.dwFileAttributes = attributes;
  record.nFileSizeHigh = size_high;
  record.nFileSizeLow = size_low;
  record.ftLastWriteTime = last_write;
  std::memcpy(record.cFileName, name.data(),
              std::min(name.size(), sizeof record.cFileName));
  return record;
}

inet::FILETIME RecordingService::FileTime(int year, int month, int day,
                                          int hour, int minute, int second,
                                          int millis) {
  inet::FILETIME ft;
  EXPECT_TRUE(inet::FileTimeFromCivil(year, month, day, hour, minute, second,
                                      &ft));
  return inet::FileTimeFromU64(inet::FileTimeToU64(ft) +
                               static_cast<uint64_t>(millis) * 10000);
}

std::vector<Call> RecordingService::ServiceCalls() const {
  std::vector<Call> out;
  for (const Call& c : calls_)
    if (c.name != "GetLastError") out.push_back(c);
  return out;
}

std::vector<std::string> RecordingService::Names(bool with_last_error) const {
  std::vector<std::string> out;
  for (const Call& c : calls_)
    if (with_last_error || c.name != "GetLastError") out.push_back(c.name);
  return out;
}

std::vector<Call> RecordingService::CallsTo(const std::string& op) const {
  std::vector<Call> out;
  for (const Call& c : calls_)
    if (c.name == op) out.push_back(c);
  return out;
}

Call RecordingService::Last(const std::string& op) const {
  for (auto it = calls_.rbegin(); it != calls_.rend(); ++it)
    if (it->name == op) return *it;
  ADD_FAILURE() << "no call to " << op;
  return Call{op, {}};
}

uint64_t RecordingService::Answer(const std::string& op,
                                  std::vector<Arg> args) {
  calls_.push_back(Call{op, std::move(args)});
  Outcome outcome;
  auto queued = queued_.find(op);
  if (queued != queued_.end() && !queued->second.empty()) {
    outcome = queued->second.front();
    queued->second.pop_front();
  } else if (auto d = defaults_.find(op); d != defaults_.end()) {
    outcome = d->second;
  }
  last_error_ = outcome.error;
  return outcome.result;
}

void RecordingService::FillFindData(inet::WIN32_FIND_DATAA* record) {
  if (find_data_.empty()) {
    *record = inet::WIN32_FIND_DATAA{};
    return;
  }
  *record = find_data_.front();
  find_data_.pop_front();
}

inet::HINTERNET RecordingService::InternetOpenA(const char* lpszAgent,
                                                inet::DWORD dwAccessType,
                                                const char* lpszProxy,
                                                const char* lpszProxyBypass,
                                                inet::DWORD dwFlags) {
  return static_cast<inet::HINTERNET>(
      Answer("InternetOpenA", {Text(lpszAgent), uint64_t{dwAccessType},
                               Text(lpszProxy), Text(lpszProxyBypass),
                               uint64_t{dwFlags}}));
}

inet::HINTERNET RecordingService::InternetConnectA(
    inet::HINTERNET hInternet, const char* lpszServerName,
    inet::INTERNET_PORT nServerPort, const char* lpszUserName,
    const char* lpszPassword, inet::DWORD dwService, inet::DWORD dwFlags,
    inet::DWORD_PTR dwContext) {
  return static_cast<inet::HINTERNET>(Answer(
      "InternetConnectA",
      {uint64_t{hInternet}, Text(lpszServerName),
       static_cast<uint64_t>(static_cast<int64_t>(nServerPort)),
       Text(lpszUserName), Text(lpszPassword), uint64_t{dwService},
       uint64_t{dwFlags}, uint64_t{dwContext}}));
}

inet::BOOL RecordingService::InternetCloseHandle(inet::HINTERNET hInternet) {
  return static_cast<inet::BOOL>(
      Answer("InternetCloseHandle", {uint64_t{hInternet}}));
}

inet::BOOL RecordingService::FtpPutFileA(inet::HINTERNET hConnect,
                                         const char* lpszLocalFile,
                                         const char* lpszNewRemoteFile,
                                         inet::DWORD dwFlags,
                                         inet::DWORD_PTR dwContext) {
  return static_cast<inet::BOOL>(
      Answer("FtpPutFileA", {uint64_t{hConnect}, Text(lpszLocalFile),
                             Text(lpszNewRemoteFile), uint64_t{dwFlags},
                             uint64_t{dwContext}}));
}

inet::BOOL RecordingService::FtpGetFileA(inet::HINTERNET hConnect,
                                         const char* lpszRemoteFile,
                                         const char* lpszNewFile,
                                         inet::BOOL fFailIfExists,
                                         inet::DWORD dwFlagsAndAttributes,
                                         inet::DWORD dwFlags,
                                         inet::DWORD_PTR dwContext) {
  return static_cast<inet::BOOL>(Answer(
      "FtpGetFileA",
      {uint64_t{hConnect}, Text(lpszRemoteFile), Text(lpszNewFile),
       static_cast<uint64_t>(static_cast<int64_t>(fFailIfExists)),
       uint64_t{dwFlagsAndAttributes}, uint64_t{dwFlags}, uint64_t{dwContext}}));
}

inet::BOOL RecordingService::InternetSetOptionA(inet::HINTERNET hInternet,
                                                inet::DWORD dwOption,
                                                const void* lpBuffer,
                                                inet::DWORD dwBufferLength) {
  // A string option is recorded as its text.
  std::optional<std::string> text;
  if (lpBuffer != nullptr)
    text = std::string(static_cast<const char*>(lpBuffer), dwBufferLength);
  return static_cast<inet::BOOL>(
      Answer("InternetSetOptionA", {uint64_t{hInternet}, uint64_t{dwOption},
                                    text, uint64_t{dwBufferLength}}));
}

inet::BOOL RecordingService::FtpRenameFileA(inet::HINTERNET hConnect,
                                            const char* lpszExisting,
                                            const char* lpszNew) {
  return static_cast<inet::BOOL>(Answer(
      "FtpRenameFileA",
      {uint64_t{hConnect}, Text(lpszExisting), Text(lpszNew)}));
}

inet::BOOL RecordingService::FtpDeleteFileA(inet::HINTERNET hConnect,
                                            const char* lpszFileName) {
  return static_cast<inet::BOOL>(
      Answer("FtpDeleteFileA", {uint64_t{hConnect}, Text(lpszFileName)}));
}

inet::BOOL RecordingService::FtpCreateDirectoryA(inet::HINTERNET hConnect,
                                                 const char* lpszDirectory) {
  return static_cast<inet::BOOL>(Answer(
      "FtpCreateDirectoryA", {uint64_t{hConnect}, Text(lpszDirectory)}));
}

inet::BOOL RecordingService::FtpRemoveDirectoryA(inet::HINTERNET hConnect,
                                                 const char* lpszDirectory) {
  return static_cast<inet::BOOL>(Answer(
      "FtpRemoveDirectoryA", {uint64_t{hConnect}, Text(lpszDirectory)}));
}

inet::BOOL RecordingService::FtpGetCurrentDirectoryA(
    inet::HINTERNET hConnect, char* lpszCurrentDirectory,
    inet::DWORD* lpdwCurrentDirectory) {
  // Recorded: the handle, the length offered, and whether the buffer came
  // zeroed over the whole length offered plus one byte.
  const inet::DWORD offered = lpdwCurrentDirectory ? *lpdwCurrentDirectory : 0;
  bool zeroed = lpszCurrentDirectory != nullptr;
  for (inet::DWORD i = 0; zeroed && i <= offered; ++i)
    zeroed = lpszCurrentDirectory[i] == '\0';
  const auto ok = static_cast<inet::BOOL>(
      Answer("FtpGetCurrentDirectoryA",
             {uint64_t{hConnect}, uint64_t{offered}, uint64_t{zeroed}}));
  if (ok && lpszCurrentDirectory && lpdwCurrentDirectory) {
    *lpdwCurrentDirectory = static_cast<inet::DWORD>(
        CopyOut(current_directory_, lpszCurrentDirectory, offered));
  }
  return ok;
}

inet::BOOL RecordingService::FtpSetCurrentDirectoryA(inet::HINTERNET hConnect,
                                                     const char* lpszDirectory) {
  return static_cast<inet::BOOL>(Answer(
      "FtpSetCurrentDirectoryA", {uint64_t{hConnect}, Text(lpszDirectory)}));
}

inet::HINTERNET RecordingService::FtpFindFirstFileA(
    inet::HINTERNET hConnect, const char* lpszSearchFile,
    inet::WIN32_FIND_DATAA* lpFindFileData, inet::DWORD dwFlags,
    inet::DWORD_PTR dwContext) {
  // Recorded: whether the record's name field came as 260 NULs.
  bool zeroed = lpFindFileData != nullptr;
  for (size_t i = 0; zeroed && i < sizeof lpFindFileData->cFileName; ++i)
    zeroed = lpFindFileData->cFileName[i] == '\0';
  const auto handle = static_cast<inet::HINTERNET>(
      Answer("FtpFindFirstFileA",
             {uint64_t{hConnect}, Text(lpszSearchFile), uint64_t{zeroed},
              uint64_t{dwFlags}, uint64_t{dwContext}}));
  if (handle != 0 && lpFindFileData) FillFindData(lpFindFileData);
  return handle;
}

inet::BOOL RecordingService::InternetFindNextFileA(
    inet::HINTERNET hFind, inet::WIN32_FIND_DATAA* lpvFindData) {
  bool zeroed = lpvFindData != nullptr;
  for (size_t i = 0; zeroed && i < sizeof lpvFindData->cFileName; ++i)
    zeroed = lpvFindData->cFileName[i] == '\0';
  const auto ok = static_cast<inet::BOOL>(Answer(
      "InternetFindNextFileA", {uint64_t{hFind}, uint64_t{zeroed}}));
  if (ok && lpvFindData) FillFindData(lpvFindData);
  return ok;
}

inet::BOOL RecordingService::InternetGetLastResponseInfoA(
    inet::DWORD* lpdwError, char* lpszBuffer, inet::DWORD* lpdwBufferLength) {
  // Recorded: the error number and the length that came in, and whether the
  // buffer was zeroed over the length offered plus one byte.
  const inet::DWORD offered = lpdwBufferLength ? *lpdwBufferLength : 0;
  bool zeroed = lpszBuffer != nullptr;
  for (inet::DWORD i = 0; zeroed && i <= offered; ++i)
    zeroed = lpszBuffer[i] == '\0';
  const auto ok = static_cast<inet::BOOL>(Answer(
      "InternetGetLastResponseInfoA",
      {uint64_t{lpdwError ? *lpdwError : 0}, uint64_t{offered},
       uint64_t{zeroed}}));
  if (lpdwError) *lpdwError = response_code_;
  if (lpszBuffer && lpdwBufferLength) {
    *lpdwBufferLength = static_cast<inet::DWORD>(
        CopyOut(response_text_, lpszBuffer, offered));
  }
  return ok;
}

inet::DWORD RecordingService::FormatMessageA(inet::DWORD dwFlags,
                                             const void* lpSource,
                                             inet::DWORD dwMessageId,
                                             inet::DWORD dwLanguageId,
                                             char* lpBuffer, inet::DWORD nSize,
                                             void* Arguments) {
  const bool scripted = queued_.count("FormatMessageA") &&
                        !queued_["FormatMessageA"].empty();
  const uint64_t result = Answer(
      "FormatMessageA",
      {uint64_t{dwFlags}, Ptr(lpSource), uint64_t{dwMessageId},
       uint64_t{dwLanguageId}, uint64_t{nSize}, Ptr(Arguments)});
  size_t copied = 0;
  auto it = messages_.find(dwMessageId);
  if (it != messages_.end() && lpBuffer) {
    // A text that does not fit is no text, as with the system's table.
    if (it->second.size() < nSize) copied = CopyOut(it->second, lpBuffer, nSize);
  }
  if (scripted) return static_cast<inet::DWORD>(result);
  if (copied == 0) last_error_ = inet::ERROR_FILE_NOT_FOUND;
  return static_cast<inet::DWORD>(copied);
}

inet::BOOL RecordingService::FileTimeToSystemTime(
    const inet::FILETIME* lpFileTime, inet::SYSTEMTIME* lpSystemTime) {
  const uint64_t ticks =
      lpFileTime ? (uint64_t{lpFileTime->dwHighDateTime} << 32) |
                       lpFileTime->dwLowDateTime
                 : 0;
  auto ok = static_cast<inet::BOOL>(
      Answer("FileTimeToSystemTime", {ticks}));
  if (!ok || lpSystemTime == nullptr) return ok;
  if (!system_times_.empty()) {
    *lpSystemTime = system_times_.front();
    system_times_.pop_front();
    return ok;
  }
  if (!inet::CivilFromFileTime(lpFileTime ? *lpFileTime : inet::FILETIME{},
                               lpSystemTime)) {
    last_error_ = inet::ERROR_INVALID_PARAMETER;
    return 0;
  }
  return ok;
}

inet::DWORD RecordingService::GetLastError() {
  calls_.push_back(Call{"GetLastError", {}});
  return last_error_;
}

}  // namespace testsupport
