#include "app/run_log.h"

#include <memory>

#include "app/run_error.h"
#include "platform/errors.h"

namespace zorvex {
namespace {

// Writes and closes `file`, throwing the first failure.
void WriteAndClose(platform::File& file, const std::string& bytes) {
  const uint32_t written = file.Write(bytes.data(), bytes.size());
  const uint32_t closed = file.Close();
  if (written != 0) throw ErrorFromSystem(written, FileOp::kWrite);
  if (closed != 0) throw ErrorFromSystem(closed, FileOp::kClose);
}

// Removes a temporary file that did not become the log.
class TemporaryName {
 public:
  explicit TemporaryName(platform::Env* os) : os_(os) {}
  ~TemporaryName() {
    if (!path.empty()) os_->Remove(path);
  }
  std::string path;

 private:
  platform::Env* os_;
};

}  // namespace

void WriteRunLog(platform::Env* os, const std::string& path,
                 const std::string& bytes) {
  using namespace platform::errors;
  std::string target = path;
  platform::FileStatus status = os->Status(target);
  if (status.is_link) {
    target = os->FollowLinks(path);
    status = os->Status(target);
  }
  if (status.exists && status.is_directory)
    throw ErrorFromSystem(ERROR_OPEN_FAILED, FileOp::kOpenOutput);
  if (status.exists && !status.is_link && !os->MayWrite(target))
    throw ErrorFromSystem(ERROR_ACCESS_DENIED, FileOp::kOpenOutput);
  std::unique_ptr<platform::File> file;
  if (status.exists && !status.is_link &&
      (!status.is_regular || status.links > 1 || status.foreign_owner)) {
    if (uint32_t e = os->OpenForWriting(target, &file))
      throw ErrorFromSystem(e, FileOp::kOpenOutput);
    WriteAndClose(*file, bytes);
    return;
  }
  TemporaryName temp(os);
  uint32_t e = os->CreateUnnamed(target, &file);
  if (e == ERROR_NOT_SUPPORTED)
    e = os->CreateTemporary(target, &file, &temp.path);
  if (e != 0) throw ErrorFromSystem(e, FileOp::kOpenOutput);
  e = file->Write(bytes.data(), bytes.size());
  if (e != 0) throw ErrorFromSystem(e, FileOp::kWrite);
  if (temp.path.empty()) {
    if ((e = os->NameUnnamed(*file, target, &temp.path)) != 0)
      throw ErrorFromSystem(e, FileOp::kClose);
  }
  if ((e = file->Close()) != 0) throw ErrorFromSystem(e, FileOp::kClose);
  if ((e = os->Replace(temp.path, target)) != 0)
    throw ErrorFromSystem(e, FileOp::kClose);
  temp.path.clear();
}

}  // namespace zorvex
