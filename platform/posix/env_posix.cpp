// Env on POSIX systems: files and folders, the process, and TCP sockets
// (tcp_posix.cpp).
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>

#include "platform/env.h"
#include "platform/errors.h"
#include "platform/locale.h"
#include "platform/posix/interrupt_posix.h"
#include "platform/posix/local_target_posix.h"
#include "platform/posix/posix_file.h"
#include "platform/posix/tcp_posix.h"

namespace platform {
namespace {

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// An ordinary file, or a folder when folders count; links are followed.
bool Counts(const std::string& path, bool folders_count) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  if (S_ISREG(st.st_mode)) return true;
  return folders_count && S_ISDIR(st.st_mode);
}

class PosixEnv : public Env {
 public:
  uint32_t Connect(const std::string& host, uint16_t port, int timeout_ms,
                   std::unique_ptr<Stream>* out) override {
    return TcpConnect(host, port, timeout_ms, out);
  }
  uint32_t ConnectTo(const Address& remote, const Address* local,
                     int timeout_ms, std::unique_ptr<Stream>* out) override {
    return TcpConnectTo(remote, local, timeout_ms, out);
  }
  uint32_t Listen(const Address& local,
                  std::unique_ptr<Listener>* out) override {
    return TcpListen(local, out);
  }

  FileStatus Status(const std::string& path) override {
    return TargetStatus(path);
  }

  uint32_t OpenForReading(const std::string& path,
                          std::unique_ptr<File>* out) override {
    // Non-blocking for the open only, so that a FIFO cannot hold the call.
    const int fd =
        ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
      const int err = errno;
      if (err == ENOENT && !IsDirectory(ParentOf(path)))
        return ERROR_PATH_NOT_FOUND;
      return FileErrno(err, ERROR_FILE_NOT_FOUND);
    }
    auto file = std::make_unique<PosixFile>(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0) return ERROR_READ_FAULT;
    if (!S_ISREG(st.st_mode)) return ERROR_ACCESS_DENIED;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    *out = std::move(file);
    return 0;
  }

  uint32_t OpenForWriting(const std::string& path,
                          std::unique_ptr<File>* out) override {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                          0666);
    // A folder of that name is a file that cannot be opened, not a matter
    // of permissions.
    if (fd < 0)
      return errno == EISDIR ? ERROR_OPEN_FAILED
                             : FileErrno(errno, ERROR_OPEN_FAILED);
    *out = std::make_unique<PosixFile>(fd);
    return 0;
  }

  uint32_t CreateTemporary(const std::string& target,
                           std::unique_ptr<File>* out,
                           std::string* path) override {
    return CreateNamedTemporary(target, out, path);
  }

  uint32_t CreateUnnamed(const std::string& target,
                         std::unique_ptr<File>* out) override {
    return CreateUnnamedTemporary(target, out);
  }

  uint32_t NameUnnamed(File& file, const std::string& target,
                       std::string* path) override {
    return NameUnnamedTemporary(file, target, path);
  }

  std::string FollowLinks(const std::string& path) override {
    return FollowTargetLinks(path);
  }

  bool MayWrite(const std::string& path) override {
    return MayWriteTarget(path);
  }

  uint32_t Replace(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0)
      return FileErrno(errno, ERROR_WRITE_FAULT);
    return 0;
  }

  uint32_t MoveNoReplace(const std::string& from,
                         const std::string& to) override {
    // link() never replaces: a file that appeared meanwhile stays.
    if (::link(from.c_str(), to.c_str()) == 0) {
      ::unlink(from.c_str());
      return 0;
    }
    if (errno == EEXIST) return ERROR_FILE_EXISTS;
    // A file system without hard links: check, then move.
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0) return ERROR_FILE_EXISTS;
    return Replace(from, to);
  }

  uint32_t Remove(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) return FileErrno(errno, ERROR_WRITE_FAULT);
    return 0;
  }

  uint32_t SyncFolderOf(const std::string& path) override {
    const int fd =
        ::open(ParentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return FileErrno(errno, ERROR_WRITE_FAULT);
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    return rc == 0 ? 0 : FileErrno(err, ERROR_WRITE_FAULT);
  }

  bool Lookup(const std::string& path, bool folders_count) override {
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    const size_t slash = path.rfind('/');
    const std::string name =
        slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.find_first_of("*?") == std::string::npos)
      return Counts(path, folders_count);
    // The folder part as written: "" for a bare name, "/" for the root.
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(
        ::opendir(folder.empty() ? "." : folder.c_str()), ::closedir);
    if (!dir) return false;
    // Only * and ? are wildcards: brackets and backslashes match themselves.
    std::string pattern;
    for (char ch : name) {
      if (ch == '[' || ch == ']' || ch == '\\') pattern.push_back('\\');
      pattern.push_back(ch);
    }
    while (const dirent* entry = ::readdir(dir.get())) {
      if (::fnmatch(pattern.c_str(), entry->d_name, 0) == 0 &&
          Counts(folder + entry->d_name, folders_count))
        return true;
    }
    return false;
  }

  void PrepareProcess() override {
    std::setlocale(LC_ALL, "");
    // A peer that closes a connection must end in a reported failure, not
    // in the death of the process.
    ::signal(SIGPIPE, SIG_IGN);
    CatchInterrupts();
  }

  int Interrupted() override { return platform::InterruptSignal(); }
  void AllowClosingWaits(bool allow) override {
    platform::AllowClosingWaits(allow);
  }

  std::string ExecutableFolder() override {
    char* resolved = ::realpath("/proc/self/exe", nullptr);
    if (resolved == nullptr) return ".";
    std::string path(resolved);
    ::free(resolved);
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    path.resize(slash == 0 ? 1 : slash);
    return FromAnsi(path);
  }

  char PathSeparator() override { return '/'; }

  std::vector<std::string> CommandArguments(int argc, char** argv) override {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(FromAnsi(argv[i]));
    return arguments;
  }

  std::string CommandTail(int argc, char** argv, size_t skip) override {
    std::string tail;
    for (size_t i = 1 + skip; i < static_cast<size_t>(argc); ++i) {
      if (i > 1 + skip) tail += ' ';
      tail += argv[i];
    }
    return FromAnsi(tail);
  }

  std::string TimeOfDay() override {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[128];
    size_t n = std::strftime(text, sizeof text, "%X", &local);
    if (n == 0) n = std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return FromAnsi(std::string_view(text, n));
  }
};

}  // namespace

Env* Env::Default() {
  static PosixEnv* env = new PosixEnv;
  return env;
}

}  // namespace platform
