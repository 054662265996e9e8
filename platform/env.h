// Env: everything the FTP client and the batch run take from the operating
// system, behind one interface. Env::Default() is this platform's
// implementation; tests wrap it (EnvWrapper) to provoke failures that a real
// system gives only rarely, such as a full disk or a failed flush.
//
// Paths are byte strings in the system ANSI code page (platform/locale.h),
// the form in which the FTP service receives them; "/" separates folders on
// every platform, and the platform's own separator does too. Operations
// return 0 or an error number (platform/errors.h). An Env is thread-safe.
#ifndef ZORVEX_PLATFORM_ENV_H_
#define ZORVEX_PLATFORM_ENV_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/address.h"
#include "platform/file.h"
#include "platform/stream.h"

namespace platform {

// What a path names, the entry itself (a symbolic link is not followed).
struct FileStatus {
  bool exists = false;
  bool is_directory = false;
  bool is_link = false;     // a symbolic link
  bool is_regular = false;  // an ordinary file (not a pipe, device, ...)
  uint64_t links = 0;       // the names the file has (hard links)
  // Owned by a user or a group that a file this process creates could not
  // be given (never for root, never on Windows).
  bool foreign_owner = false;
};

class Env {
 public:
  virtual ~Env() = default;

  // This platform's environment; it lives as long as the process.
  static Env* Default();

  // --- Network ----------------------------------------------------------
  // Resolves `host` (a name, or an IPv4 or IPv6 address in numeric form) and
  // connects to each address in turn until one answers; `timeout_ms` bounds
  // the whole. 12007 when the name does not resolve, 12029 when no address
  // takes the connection, 12002 on timeout.
  virtual uint32_t Connect(const std::string& host, uint16_t port,
                           int timeout_ms, std::unique_ptr<Stream>* out) = 0;
  // Connects to one address, first binding to `local`'s host (any port) when
  // `local` is given.
  virtual uint32_t ConnectTo(const Address& remote, const Address* local,
                             int timeout_ms, std::unique_ptr<Stream>* out) = 0;
  // Listens on `local`'s host, on a port the system chooses.
  virtual uint32_t Listen(const Address& local,
                          std::unique_ptr<Listener>* out) = 0;

  // --- Files and folders --------------------------------------------------
  virtual FileStatus Status(const std::string& path) = 0;
  // Opens a regular file for reading: 2 when it does not exist, 3 when its
  // folder does not exist, 5 when it is not a regular file or may not be read.
  virtual uint32_t OpenForReading(const std::string& path,
                                  std::unique_ptr<File>* out) = 0;
  // Creates `path`, or empties it when it exists, for writing.
  virtual uint32_t OpenForWriting(const std::string& path,
                                  std::unique_ptr<File>* out) = 0;
  // Creates a new, empty file with a name of its own in the folder of
  // `target` and stores its path in *path. It gets the permissions that
  // `target` has when that is a regular file (and its owner and group, where
  // the process may give them), else those of a new file (on Windows always
  // those of a new file: the folder's inherited access rules). It may be
  // read back. 3 when the folder does not exist.
  virtual uint32_t CreateTemporary(const std::string& target,
                                   std::unique_ptr<File>* out,
                                   std::string* path) = 0;
  // Creates a file without a name in the folder of `target`, with the
  // permissions (and, where the system allows, the owner) that CreateTemporary
  // would give it, so that a process that dies leaves nothing behind.
  // 50 where the system or the folder's file system has no such files;
  // 3 when the folder does not exist.
  virtual uint32_t CreateUnnamed(const std::string& target,
                                 std::unique_ptr<File>* out) = 0;
  // Gives `file`, made by CreateUnnamed and still open, a name of its own in
  // the folder of `target`, as CreateTemporary would, and stores it in *path.
  virtual uint32_t NameUnnamed(File& file, const std::string& target,
                               std::string* path) = 0;
  // The path that a symbolic link finally names, through a chain of links
  // (relative links taken from the link's folder); `path` itself when it is
  // not a link, or when the chain does not end.
  virtual std::string FollowLinks(const std::string& path) = 0;
  // True when a plain write to the existing `path` would be allowed (its
  // permissions, its read-only attribute, a read-only file system).
  virtual bool MayWrite(const std::string& path) = 0;
  // Moves `from` to `to` in one step, replacing a file at `to`.
  virtual uint32_t Replace(const std::string& from, const std::string& to) = 0;
  // Moves `from` to `to` in one step unless `to` exists (80): a file that
  // appears at `to` meanwhile is never replaced.
  virtual uint32_t MoveNoReplace(const std::string& from,
                                 const std::string& to) = 0;
  virtual uint32_t Remove(const std::string& path) = 0;
  // Flushes the entries of the folder that holds `path` to the disk, so that
  // a file just moved there stays after a crash. Where the system has no
  // such call, 0.
  virtual uint32_t SyncFolderOf(const std::string& path) = 0;
  // True when the folder of `path` holds an entry that the last element
  // names, looked up with the system's own directory search: "*" and "?" in
  // the last element are wildcards, links are followed, and only ordinary
  // files count (and folders too when `folders_count`). The empty path is
  // never found.
  virtual bool Lookup(const std::string& path, bool folders_count) = 0;

  // --- Process ------------------------------------------------------------
  // Prepares the process for a run: the user's locale for texts and times;
  // a peer that closes a connection reported as an error, never as a signal
  // that ends the program; and the user's interruption caught (below).
  virtual void PrepareProcess() = 0;
  // 0 until the user asks the run to stop, after PrepareProcess; then the
  // number of the signal that asked: on POSIX systems SIGINT (2), SIGTERM
  // (15) or SIGHUP (1); on Windows 2 for Ctrl+C, 21 (SIGBREAK) for
  // Ctrl+Break and 1 for the console closing, logoff or shutdown. From then
  // on every wait of the platform's sockets ends at once with
  // ERROR_CANCELLED, so that the run fails through its ordinary path. A
  // second interruption ends the process.
  virtual int Interrupted() = 0;
  // While `allow` is set, the calling thread's socket waits run to their own
  // timeouts even after an interruption, so that a connection can still be
  // closed politely (a QUIT with a short timeout).
  virtual void AllowClosingWaits(bool allow) = 0;
  // The folder of the running executable (links resolved), UTF-8, without a
  // final separator except for a root; "." when it cannot be found.
  virtual std::string ExecutableFolder() = 0;
  // The separator that joins the executable's folder and a file name.
  virtual char PathSeparator() = 0;
  // The arguments after the program's name, UTF-8, split as the system
  // splits them (on Windows by the C runtime's rules for quotes and
  // backslashes), so that leading options can be told from the tail.
  virtual std::vector<std::string> CommandArguments(int argc,
                                                    char** argv) = 0;
  // The command-line tail, UTF-8: what follows the program's name and its
  // first `skip` arguments, as the system hands it over (where the system
  // hands over a list of arguments, the remaining ones joined by single
  // spaces).
  virtual std::string CommandTail(int argc, char** argv, size_t skip) = 0;
  // The local time of day in the user's time format with seconds, UTF-8.
  virtual std::string TimeOfDay() = 0;
};

// Forwards every call to another Env; a test double overrides what it needs.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  uint32_t Connect(const std::string& host, uint16_t port, int timeout_ms,
                   std::unique_ptr<Stream>* out) override {
    return target_->Connect(host, port, timeout_ms, out);
  }
  uint32_t ConnectTo(const Address& remote, const Address* local,
                     int timeout_ms, std::unique_ptr<Stream>* out) override {
    return target_->ConnectTo(remote, local, timeout_ms, out);
  }
  uint32_t Listen(const Address& local,
                  std::unique_ptr<Listener>* out) override {
    return target_->Listen(local, out);
  }
  FileStatus Status(const std::string& path) override {
    return target_->Status(path);
  }
  uint32_t OpenForReading(const std::string& path,
                          std::unique_ptr<File>* out) override {
    return target_->OpenForReading(path, out);
  }
  uint32_t OpenForWriting(const std::string& path,
                          std::unique_ptr<File>* out) override {
    return target_->OpenForWriting(path, out);
  }
  uint32_t CreateTemporary(const std::string& target,
                           std::unique_ptr<File>* out,
                           std::string* path) override {
    return target_->CreateTemporary(target, out, path);
  }
  uint32_t CreateUnnamed(const std::string& target,
                         std::unique_ptr<File>* out) override {
    return target_->CreateUnnamed(target, out);
  }
  uint32_t NameUnnamed(File& file, const std::string& target,
                       std::string* path) override {
    return target_->NameUnnamed(file, target, path);
  }
  std::string FollowLinks(const std::string& path) override {
    return target_->FollowLinks(path);
  }
  bool MayWrite(const std::string& path) override {
    return target_->MayWrite(path);
  }
  uint32_t Replace(const std::string& from, const std::string& to) override {
    return target_->Replace(from, to);
  }
  uint32_t MoveNoReplace(const std::string& from,
                         const std::string& to) override {
    return target_->MoveNoReplace(from, to);
  }
  uint32_t Remove(const std::string& path) override {
    return target_->Remove(path);
  }
  uint32_t SyncFolderOf(const std::string& path) override {
    return target_->SyncFolderOf(path);
  }
  bool Lookup(const std::string& path, bool folders_count) override {
    return target_->Lookup(path, folders_count);
  }
  void PrepareProcess() override { target_->PrepareProcess(); }
  int Interrupted() override { return target_->Interrupted(); }
  void AllowClosingWaits(bool allow) override {
    target_->AllowClosingWaits(allow);
  }
  std::string ExecutableFolder() override {
    return target_->ExecutableFolder();
  }
  char PathSeparator() override { return target_->PathSeparator(); }
  std::vector<std::string> CommandArguments(int argc, char** argv) override {
    return target_->CommandArguments(argc, argv);
  }
  std::string CommandTail(int argc, char** argv, size_t skip) override {
    return target_->CommandTail(argc, argv, skip);
  }
  std::string TimeOfDay() override { return target_->TimeOfDay(); }

 private:
  Env* target_;
};

}  // namespace platform

#endif  // ZORVEX_PLATFORM_ENV_H_
