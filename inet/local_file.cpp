#include "inet/local_file.h"

#include <vector>

#include "inet/errors.h"
#include "platform/locale.h"

namespace inet {
namespace {

constexpr size_t kCopyChunk = 1 << 20;

}  // namespace

DownloadTarget::~DownloadTarget() {
  file_.reset();
  if (!temp_.empty() && !committed_) env_->Remove(temp_);
}

DWORD DownloadTarget::Create(const std::string& target, bool fail_if_exists) {
  // The last element follows "/" or the platform's own separator. It is
  // looked for in the UTF-8 form: in a double-byte code page a character's
  // second byte may have the value of "\".
  const std::string text = platform::FromAnsi(target);
  const char separators[] = {'/', env_->PathSeparator(), '\0'};
  const size_t slash = text.find_last_of(separators);
  const std::string base =
      slash == std::string::npos ? text : text.substr(slash + 1);
  if (base.empty() || base == "." || base == "..") return ERROR_INVALID_NAME;
  platform::FileStatus status = env_->Status(target);
  if (status.exists && fail_if_exists) return ERROR_FILE_EXISTS;
  target_ = target;
  if (status.is_link) {
    target_ = env_->FollowLinks(target);
    status = env_->Status(target_);
  }
  if (status.exists && status.is_directory) return ERROR_ACCESS_DENIED;
  // A download may do what a plain write would, and no more.
  if (status.exists && !status.is_link && !env_->MayWrite(target_))
    return ERROR_ACCESS_DENIED;
  // A file that a new one cannot stand in for is written in place: its
  // other names, its owner, or what it is (a pipe, a device) stay.
  in_place_ = status.exists && !status.is_link &&
              (!status.is_regular || status.links > 1 || status.foreign_owner);
  fail_if_exists_ = fail_if_exists;
  const DWORD unnamed = env_->CreateUnnamed(target_, &file_);
  if (unnamed != ERROR_NOT_SUPPORTED) return unnamed;
  return env_->CreateTemporary(target_, &file_, &temp_);
}

DWORD DownloadTarget::Commit() {
  if (in_place_) return WriteInPlace();
  if (DWORD e = file_->Sync()) return e;
  // An unnamed file gets a name of its own only now, whole and flushed.
  if (temp_.empty()) {
    if (DWORD e = env_->NameUnnamed(*file_, target_, &temp_)) return e;
  }
  const DWORD closed = file_->Close();
  file_.reset();
  if (closed != 0) return closed;
  const DWORD e = fail_if_exists_ ? env_->MoveNoReplace(temp_, target_)
                                  : env_->Replace(temp_, target_);
  if (e != 0) return e;
  committed_ = true;
  // The file is in place; a folder that cannot be flushed does not undo that.
  env_->SyncFolderOf(target_);
  return 0;
}

DWORD DownloadTarget::WriteInPlace() {
  if (DWORD e = file_->Seek(0)) return e;
  std::unique_ptr<platform::File> out;
  if (DWORD e = env_->OpenForWriting(target_, &out)) return e;
  std::vector<char> buffer(kCopyChunk);
  for (;;) {
    size_t got = 0;
    if (DWORD e = file_->Read(buffer.data(), buffer.size(), &got)) return e;
    if (got == 0) break;
    if (DWORD e = out->Write(buffer.data(), got)) return e;
  }
  // A pipe or a device has nothing to flush to a disk.
  if (env_->Status(target_).is_regular) {
    if (DWORD e = out->Sync()) return e;
  }
  // The temporary file (if it has a name) goes in the destructor.
  return out->Close();
}

}  // namespace inet
