// FaultEnv: the process's own Env with faults that a real system gives only
// rarely, switched on by a test: a disk that fills up after so many bytes, a
// flush or a close that fails, a file that appears at a target just before
// it is moved into place.
#ifndef ZORVEX_TESTS_SUPPORT_FAULT_ENV_H_
#define ZORVEX_TESTS_SUPPORT_FAULT_ENV_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"

namespace testsupport {

class FaultEnv : public platform::EnvWrapper {
 public:
  FaultEnv() : EnvWrapper(platform::Env::Default()) {}

  // Temporary files take this many bytes, then fail their writes with
  // ERROR_DISK_FULL; unlimited when negative.
  int64_t disk_space = -1;
  // Errors that Sync and Close of temporary files return (0: none).
  uint32_t sync_error = 0;
  uint32_t close_error = 0;
  // Runs before a move into place (Replace and MoveNoReplace), with the
  // target's path.
  std::function<void(const std::string& target)> before_move;

  // Temporary files are named ones (CreateTemporary), so that the faults
  // above reach them, unless this is set.
  bool unnamed_temporaries = false;

  // The temporary files created so far.
  const std::vector<std::string>& temporaries() const { return temporaries_; }

  uint32_t CreateTemporary(const std::string& target,
                           std::unique_ptr<platform::File>* out,
                           std::string* path) override;
  uint32_t CreateUnnamed(const std::string& target,
                         std::unique_ptr<platform::File>* out) override;
  uint32_t Replace(const std::string& from, const std::string& to) override;
  uint32_t MoveNoReplace(const std::string& from,
                         const std::string& to) override;

 private:
  std::vector<std::string> temporaries_;
};

}  // namespace testsupport

#endif  // ZORVEX_TESTS_SUPPORT_FAULT_ENV_H_
