// The local side of a download that never loses a file and never does more
// damage than writing the file would: the bytes go to a temporary file in
// the target's folder (unnamed where the system allows, so that not even a
// killed process leaves it behind), which takes the target's place in one
// step only when Commit is called, after the transfer has been confirmed. A
// target that is not committed is left as it was, and the temporary file is
// removed.
//
// What the target is decides how it is replaced: a symbolic link is
// followed and the file it names is replaced (the link stays); an ordinary
// file keeps its permissions and owner; a file with other hard links, one
// owned by someone this process cannot make owner of a new file, a named
// pipe or a device is written in place, from the complete temporary file.
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
  // temporary file. Fails with 123 when the last element is empty, "." or
  // "..", 80 when the target (a link counts) exists and `fail_if_exists`, 5
  // when it is (or a link names) a folder or a file that may not be
  // written, 3 when its folder does not exist.
  DWORD Create(const std::string& target, bool fail_if_exists);
  // The temporary file; valid after a successful Create.
  platform::File& file() { return *file_; }
  // Flushes the temporary file to the disk and moves it to the target:
  // replacing a file there, or with `fail_if_exists` never replacing one
  // that appeared meanwhile (80). Then flushes the folder's entries. A
  // target written in place gets the temporary file's bytes instead.
  DWORD Commit();

 private:
  // Copies the complete temporary file into the target.
  DWORD WriteInPlace();

  platform::Env* env_;
  std::string target_;  // links followed
  std::string temp_;    // empty while the temporary file has no name
  bool fail_if_exists_ = false;
  bool in_place_ = false;
  bool committed_ = false;
  std::unique_ptr<platform::File> file_;
};

}  // namespace inet

#endif  // ZORVEX_INET_LOCAL_FILE_H_
