#include "inet/local_file.h"

#include "inet/errors.h"
#include "platform/locale.h"

namespace inet {

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
  const platform::FileStatus status = env_->Status(target);
  if (status.exists && fail_if_exists) return ERROR_FILE_EXISTS;
  if (status.exists && status.is_directory) return ERROR_ACCESS_DENIED;
  target_ = target;
  fail_if_exists_ = fail_if_exists;
  return env_->CreateTemporary(target, &file_, &temp_);
}

DWORD DownloadTarget::Commit() {
  if (DWORD e = file_->Sync()) return e;
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

}  // namespace inet
