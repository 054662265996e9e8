// Nimbrel's directory search: FindFile and NextFile, and the record they
// fill from the service's find data.
#include <memory>
#include <string>

#include "ftp/nimbrel.h"
#include "ftp/service_text.h"

namespace zorvex {

void Nimbrel::FindFile(std::string_view szSearchString) {
  CloseFind();
  // A fresh record; whoever holds the old one keeps its values.
  RemoteFile_ = std::make_shared<FTPFile>();
  RemoteFile_->SearchEnd = false;
  inet::WIN32_FIND_DATAA record{};
  const std::string search = Ansi(szSearchString);
  hFind_ = service_->FtpFindFirstFileA(hFTP_, search.c_str(), &record, 0, 0);
  if (hFind_ != 0) {
    SetRemoteFile(record);
  } else {
    RaiseFtpError(LastError());
    // Only now: a listener of the event above still sees SearchEnd false.
    RemoteFile()->SearchEnd = true;
  }
  RethrowListenerException();
}

void Nimbrel::NextFile() {
  if (RemoteFile()->SearchEnd) return;
  inet::WIN32_FIND_DATAA record{};
  if (service_->InternetFindNextFileA(hFind_, &record)) {
    SetRemoteFile(record);
  } else {
    RaiseFtpError(LastError());
  }
  RethrowListenerException();
}

void Nimbrel::CloseFind() {
  if (hFind_ == 0) return;
  if (service_->InternetCloseHandle(hFind_)) {
    hFind_ = 0;
  } else {
    RaiseFtpError(LastError());
  }
}

void Nimbrel::SetRemoteFile(const inet::WIN32_FIND_DATAA& record) {
  const std::shared_ptr<FTPFile> file = RemoteFile();
  file->SearchEnd = false;
  file->FileName = FromBuffer(record.cFileName, sizeof record.cFileName);

  inet::SYSTEMTIME time{};
  service_->FileTimeToSystemTime(&record.ftLastWriteTime, &time);
  // A time that gave no calendar date (fields left 0, or a year past 9999)
  // leaves the zero date rather than the previous entry's date.
  file->FileDate = Date::FromFields(time.wYear, time.wMonth, time.wDay,
                                    time.wHour, time.wMinute, time.wSecond)
                       .value_or(Date());

  file->FileSize = static_cast<double>(record.nFileSizeHigh) * 4294967296.0 +
                   static_cast<double>(record.nFileSizeLow);
  file->FileType =
      record.dwFileAttributes == inet::FILE_ATTRIBUTE_DIRECTORY ? 16 : 0;
}

}  // namespace zorvex
