#include "platform/posix/local_target_posix.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <random>
#include <vector>

#include "platform/errors.h"
#include "platform/posix/posix_file.h"

namespace platform {
namespace {

// Symbolic links followed at most, as the kernel does (ELOOP).
constexpr int kMaxLinks = 40;

// The process umask, read without changing it where the system allows.
mode_t CurrentUmask() {
  if (FILE* f = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (std::fgets(line, sizeof line, f) != nullptr) {
      if (std::sscanf(line, "Umask: %o", &mask) == 1) {
        found = true;
        break;
      }
    }
    std::fclose(f);
    if (found) return static_cast<mode_t>(mask);
  }
  static std::mutex mu;
  std::lock_guard<std::mutex> lock(mu);
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

// A file that replaces a regular `target` takes its owner, group and
// permissions (the owner only where the process may give it: root, or a
// group the user belongs to); any other gets a new file's permissions.
// chown clears set-id bits, so the mode comes after it.
void TakeTargetsPlace(int fd, const std::string& target) {
  struct stat st;
  if (::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    [[maybe_unused]] const int owned = ::fchown(fd, st.st_uid, st.st_gid);
    ::fchmod(fd, st.st_mode & 07777);
  } else {
    ::fchmod(fd, 0666 & ~CurrentUmask());
  }
}

// "<folder>/.<name>.zvx-" for a temporary file beside `target`.
std::string TemporaryPrefix(const std::string& target) {
  const size_t slash = target.find_last_of('/');
  const std::string base =
      slash == std::string::npos ? target : target.substr(slash + 1);
  return (slash == std::string::npos ? std::string()
                                     : target.substr(0, slash + 1)) +
         "." + base.substr(0, 200) + ".zvx-";
}

std::string RandomSuffix() {
  static const char kChars[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::string suffix(6, 'X');
  for (char& c : suffix) c = kChars[random() % (sizeof kChars - 1)];
  return suffix;
}

bool InGroup(gid_t gid) {
  if (gid == ::getegid()) return true;
  const int n = ::getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(n));
  const int got = ::getgroups(n, groups.data());
  for (int i = 0; i < got; ++i)
    if (groups[static_cast<size_t>(i)] == gid) return true;
  return false;
}

}  // namespace

std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

FileStatus TargetStatus(const std::string& path) {
  struct stat st;
  FileStatus status;
  if (::lstat(path.c_str(), &st) == 0) {
    status.exists = true;
    status.is_directory = S_ISDIR(st.st_mode);
    status.is_link = S_ISLNK(st.st_mode);
    status.is_regular = S_ISREG(st.st_mode);
    status.links = st.st_nlink;
    status.foreign_owner =
        ::geteuid() != 0 && (st.st_uid != ::geteuid() || !InGroup(st.st_gid));
  }
  return status;
}

std::string FollowTargetLinks(const std::string& path) {
  std::string at = path;
  for (int i = 0; i < kMaxLinks; ++i) {
    struct stat st;
    if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
    std::vector<char> buffer(static_cast<size_t>(st.st_size) + 1 > 256
                                 ? static_cast<size_t>(st.st_size) + 1
                                 : 256);
    const ssize_t n = ::readlink(at.c_str(), buffer.data(), buffer.size());
    if (n < 0 || static_cast<size_t>(n) >= buffer.size()) return path;
    const std::string link(buffer.data(), static_cast<size_t>(n));
    if (link.empty()) return path;
    at = link[0] == '/' ? link : ParentOf(at) + "/" + link;
  }
  return path;
}

bool MayWriteTarget(const std::string& path) {
  return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

uint32_t CreateNamedTemporary(const std::string& target,
                              std::unique_ptr<File>* out, std::string* path) {
  std::string temp = TemporaryPrefix(target) + "XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    return err == ENOENT ? ERROR_PATH_NOT_FOUND
                         : FileErrno(err, ERROR_WRITE_FAULT);
  }
  TakeTargetsPlace(fd, target);
  *out = std::make_unique<PosixFile>(fd);
  *path = std::move(temp);
  return 0;
}

uint32_t CreateUnnamedTemporary(const std::string& target,
                                std::unique_ptr<File>* out) {
#ifdef O_TMPFILE
  // Naming the file later takes /proc (or a capability an ordinary user
  // lacks): without /proc the file is a named one from the start.
  if (::access("/proc/self/fd", X_OK) != 0) return ERROR_NOT_SUPPORTED;
  const int fd = ::open(ParentOf(target).c_str(),
                        O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT || err == ENOTDIR) return ERROR_PATH_NOT_FOUND;
    // An older kernel reads O_TMPFILE as O_DIRECTORY (EISDIR); a file
    // system without it says EOPNOTSUPP.
    if (err == EISDIR || err == EOPNOTSUPP || err == EINVAL)
      return ERROR_NOT_SUPPORTED;
    return FileErrno(err, ERROR_WRITE_FAULT);
  }
  TakeTargetsPlace(fd, target);
  *out = std::make_unique<PosixFile>(fd);
  return 0;
#else
  (void)target;
  (void)out;
  return ERROR_NOT_SUPPORTED;
#endif
}

uint32_t NameUnnamedTemporary(File& file, const std::string& target,
                              std::string* path) {
  const intptr_t fd = file.NativeHandle();
  if (fd < 0) return ERROR_INVALID_HANDLE;
  const std::string prefix = TemporaryPrefix(target);
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = prefix + RandomSuffix();
    // AT_EMPTY_PATH needs a capability that an ordinary user lacks; the
    // descriptor's entry under /proc does not.
    int rc = ::linkat(static_cast<int>(fd), "", AT_FDCWD, temp.c_str(),
                      AT_EMPTY_PATH);
    if (rc != 0 && errno != EEXIST)
      rc = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(),
                    AT_SYMLINK_FOLLOW);
    if (rc == 0) {
      *path = std::move(temp);
      return 0;
    }
    if (errno != EEXIST) return FileErrno(errno, ERROR_WRITE_FAULT);
  }
  return ERROR_FILE_EXISTS;
}

}  // namespace platform
