// The local side of a download that never loses a file: the bytes go to a
// temporary file beside the target, which takes the target's place in one
// step only when Commit is called, after the transfer has been confirmed. A
// target that is not committed is left as it was, and the temporary file is
// removed.
#ifndef ZORVEX_INET_LOCAL_FILE_H_
#define ZORVEX_INET_LOCAL_FILE_H_

#include <memory>
#include <string>

#include "inet/service.h"
#include "platform/env.h"

namespace inet {

class DownloadTarget {
 public:
  explicit DownloadTarget(platform::Env* env) : env_(env) {}
  // Removes the temporary file unless it was committed.
  ~DownloadTarget();
  DownloadTarget(const DownloadTarget&) = delete;
  DownloadTarget& operator=(const DownloadTarget&) = delete;

  // Checks `target` (a path in the ANSI code page) and creates the
  // temporary file beside it. Fails with 123 when the last element is empty,
  // "." or "..", 80 when the target exists and `fail_if_exists`, 5 when it is
  // a folder, 3 when its folder does not exist.
  DWORD Create(const std::string& target, bool fail_if_exists);
  // The temporary file; valid after a successful Create.
  platform::File& file() { return *file_; }
  // Flushes the temporary file to the disk, closes it and moves it to the
  // target: replacing a file there, or with `fail_if_exists` never replacing
  // one that appeared meanwhile (80). Then flushes the folder's entries.
  DWORD Commit();

 private:
  platform::Env* env_;
  std::string target_;
  std::string temp_;
  bool fail_if_exists_ = false;
  bool committed_ = false;
  std::unique_ptr<platform::File> file_;
};

}  // namespace inet

#endif  // ZORVEX_INET_LOCAL_FILE_H_
