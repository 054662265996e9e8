#include "tests/support/fault_env.h"

#include <algorithm>

#include "platform/errors.h"

namespace testsupport {
namespace {

// A file whose writes, flush and close fail as its FaultEnv says. It has no
// native handle, so that every byte goes through Write.
class FaultFile : public platform::File {
 public:
  FaultFile(std::unique_ptr<platform::File> file, FaultEnv* env)
      : file_(std::move(file)), env_(env) {}

  uint32_t Read(char* buffer, size_t size, size_t* got) override {
    return file_->Read(buffer, size, got);
  }
  uint32_t Write(const char* data, size_t size) override {
    if (env_->disk_space >= 0) {
      const size_t room = static_cast<size_t>(
          std::max<int64_t>(0, env_->disk_space - written_));
      if (size > room) {
        file_->Write(data, room);
        written_ += static_cast<int64_t>(room);
        return platform::ERROR_DISK_FULL;
      }
    }
    written_ += static_cast<int64_t>(size);
    return file_->Write(data, size);
  }
  uint32_t Sync() override {
    return env_->sync_error != 0 ? env_->sync_error : file_->Sync();
  }
  uint32_t Close() override {
    const uint32_t e = file_->Close();
    return env_->close_error != 0 ? env_->close_error : e;
  }
  uint32_t Position(uint64_t* offset) const override {
    return file_->Position(offset);
  }
  uint32_t Seek(uint64_t offset) override {
    written_ = static_cast<int64_t>(offset);
    return file_->Seek(offset);
  }
  uint32_t Truncate() override { return file_->Truncate(); }
  uint32_t Size(uint64_t* size) const override { return file_->Size(size); }

 private:
  std::unique_ptr<platform::File> file_;
  FaultEnv* env_;
  int64_t written_ = 0;
};

}  // namespace

uint32_t FaultEnv::CreateTemporary(const std::string& target,
                                   std::unique_ptr<platform::File>* out,
                                   std::string* path) {
  std::unique_ptr<platform::File> file;
  const uint32_t e = EnvWrapper::CreateTemporary(target, &file, path);
  if (e != 0) return e;
  temporaries_.push_back(*path);
  *out = std::make_unique<FaultFile>(std::move(file), this);
  return 0;
}

uint32_t FaultEnv::CreateUnnamed(const std::string& target,
                                 std::unique_ptr<platform::File>* out) {
  if (!unnamed_temporaries) return platform::ERROR_NOT_SUPPORTED;
  return EnvWrapper::CreateUnnamed(target, out);
}

uint32_t FaultEnv::Replace(const std::string& from, const std::string& to) {
  if (before_move) before_move(to);
  return EnvWrapper::Replace(from, to);
}

uint32_t FaultEnv::MoveNoReplace(const std::string& from,
                                 const std::string& to) {
  if (before_move) before_move(to);
  return EnvWrapper::MoveNoReplace(from, to);
}

}  // namespace testsupport
