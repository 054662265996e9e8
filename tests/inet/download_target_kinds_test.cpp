// What a download does to the kinds of targets a local folder holds, over
// the real POSIX Env: never more than writing the file would. A link is
// followed, a read-only file refused before any byte moves, owner and mode
// kept, hard links and pipes written in place, and a temporary file that
// has no name until the whole file is there. As root and, in a child
// process that drops to "nobody", as a normal user.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>

#include "inet/errors.h"
#include "inet/local_file.h"
#include "tests/support/temp_files.h"

namespace inet {
namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

platform::Env* Os() { return platform::Env::Default(); }

DWORD Download(const std::string& target, const std::string& bytes,
               bool fail_if_exists = false) {
  DownloadTarget download(Os());
  if (DWORD e = download.Create(target, fail_if_exists)) return e;
  if (DWORD e = download.file().Write(bytes.data(), bytes.size())) return e;
  return download.Commit();
}

std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.insert(entry.path().filename().string());
  return names;
}

struct stat Stat(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

// Runs `body` in a child process as the user "nobody"; the child's
// failures come back as its exit status (the number of failed checks).
void AsNobody(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNogroup) != 0 ||
        ::setuid(kNobody) != 0)
      ::_exit(100);
    ::_exit(body());
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "checks that failed as nobody";
}

TEST(DownloadTargetKindsTest, TheTemporaryFileHasNoNameUntilTheEnd) {
  TempDir dir;
  WriteFile(dir / "a.txt", "old");
  const std::set<std::string> before = Names(dir.path());
  {
    DownloadTarget download(Os());
    ASSERT_EQ(download.Create(dir / "a.txt", false), 0u);
    ASSERT_EQ(download.file().Write("new", 3), 0u);
    // Mid-transfer the folder shows nothing new: a killed process leaves
    // nothing behind (a file system without unnamed files would).
    EXPECT_EQ(Names(dir.path()), before);
    ASSERT_EQ(download.Commit(), 0u);
  }
  EXPECT_EQ(ReadFile(dir / "a.txt"), "new");
  EXPECT_EQ(Names(dir.path()), before);
  // fail-if-exists still never replaces, and still creates.
  EXPECT_EQ(Download(dir / "a.txt", "x", true), ERROR_FILE_EXISTS);
  EXPECT_EQ(Download(dir / "b.txt", "b", true), 0u);
  EXPECT_EQ(ReadFile(dir / "b.txt"), "b");
  {
    DownloadTarget abandoned(Os());
    ASSERT_EQ(abandoned.Create(dir / "c.txt", false), 0u);
  }
  EXPECT_FALSE(testsupport::Exists(dir / "c.txt"));
}

TEST(DownloadTargetKindsTest, ALinkIsFollowedAndStays) {
  TempDir dir;
  ASSERT_EQ(::mkdir((dir / "real").c_str(), 0755), 0);
  WriteFile(dir / "real/data.txt", "old");
  ASSERT_EQ(::symlink("real/data.txt", (dir / "link.txt").c_str()), 0);
  ASSERT_EQ(::symlink("link.txt", (dir / "chain.txt").c_str()), 0);
  ASSERT_EQ(Download(dir / "chain.txt", "new"), 0u);
  EXPECT_TRUE(S_ISLNK(Stat(dir / "chain.txt").st_mode));
  EXPECT_TRUE(S_ISLNK(Stat(dir / "link.txt").st_mode));
  EXPECT_EQ(ReadFile(dir / "real/data.txt"), "new");
  // A link that names nothing yet: the file it names is made.
  ASSERT_EQ(::symlink("real/later.txt", (dir / "dangling").c_str()), 0);
  ASSERT_EQ(Download(dir / "dangling", "made"), 0u);
  EXPECT_EQ(ReadFile(dir / "real/later.txt"), "made");
  // A link to a folder is a folder; fail-if-exists counts the link.
  ASSERT_EQ(::symlink("real", (dir / "to-folder").c_str()), 0);
  EXPECT_EQ(Download(dir / "to-folder", "x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Download(dir / "link.txt", "x", true), ERROR_FILE_EXISTS);
  EXPECT_EQ(Names(dir / "real"), (std::set<std::string>{"data.txt", "later.txt"}));
}

TEST(DownloadTargetKindsTest, HardLinksAndPipesAreWrittenInPlace) {
  TempDir dir;
  WriteFile(dir / "a.txt", "old");
  ASSERT_EQ(::link((dir / "a.txt").c_str(), (dir / "other-name").c_str()), 0);
  const ino_t inode = Stat(dir / "a.txt").st_ino;
  {
    // A failure before the end leaves both names with the old bytes.
    DownloadTarget abandoned(Os());
    ASSERT_EQ(abandoned.Create(dir / "a.txt", false), 0u);
    ASSERT_EQ(abandoned.file().Write("half", 4), 0u);
  }
  EXPECT_EQ(ReadFile(dir / "other-name"), "old");
  const std::string big(3 << 20, 'n');  // more than one copy buffer
  ASSERT_EQ(Download(dir / "a.txt", big), 0u);
  EXPECT_EQ(Stat(dir / "a.txt").st_ino, inode);
  EXPECT_EQ(ReadFile(dir / "other-name"), big);
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"a.txt", "other-name"}));

  // A named pipe stays a pipe; its reader gets the bytes.
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0644), 0);
  std::string read;
  std::thread reader([&] { read = ReadFile(dir / "pipe"); });
  EXPECT_EQ(Download(dir / "pipe", "through the pipe"), 0u);
  reader.join();
  EXPECT_EQ(read, "through the pipe");
  EXPECT_TRUE(S_ISFIFO(Stat(dir / "pipe").st_mode));
  // A device node: written, never replaced.
  if (::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    EXPECT_EQ(Download(dir / "null", "gone"), 0u);
    EXPECT_TRUE(S_ISCHR(Stat(dir / "null").st_mode));
  }
}

TEST(DownloadTargetKindsTest, RootKeepsOwnerAndModeAndMayWriteReadOnly) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  TempDir dir;
  WriteFile(dir / "theirs.txt", "old");
  ASSERT_EQ(::chown((dir / "theirs.txt").c_str(), kNobody, kNogroup), 0);
  ASSERT_EQ(::chmod((dir / "theirs.txt").c_str(), 0640), 0);
  ASSERT_EQ(Download(dir / "theirs.txt", "new"), 0u);
  const struct stat st = Stat(dir / "theirs.txt");
  EXPECT_EQ(st.st_uid, kNobody);
  EXPECT_EQ(st.st_gid, kNogroup);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadFile(dir / "theirs.txt"), "new");
  // Root's plain write to a read-only file succeeds, so the download does,
  // and the file stays read-only.
  ASSERT_EQ(::chmod((dir / "theirs.txt").c_str(), 0444), 0);
  EXPECT_EQ(Download(dir / "theirs.txt", "newer"), 0u);
  EXPECT_EQ(Stat(dir / "theirs.txt").st_mode & 07777, 0444u);
}

TEST(DownloadTargetKindsTest, AsANormalUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  const std::string folder = dir / "job";
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  ASSERT_EQ(::chown(folder.c_str(), kNobody, kNogroup), 0);
  // Read-only to its owner.
  WriteFile(folder + "/readonly.txt", "kept");
  ASSERT_EQ(::chown((folder + "/readonly.txt").c_str(), kNobody, kNogroup), 0);
  ASSERT_EQ(::chmod((folder + "/readonly.txt").c_str(), 0444), 0);
  // Root's file that anyone may write, in nobody's folder.
  WriteFile(folder + "/roots.txt", "old");
  ASSERT_EQ(::chmod((folder + "/roots.txt").c_str(), 0666), 0);
  AsNobody([&] {
    int failed = 0;
    DownloadTarget refused(Os());
    failed += refused.Create(folder + "/readonly.txt", false) !=
              ERROR_ACCESS_DENIED;
    failed += Download(folder + "/roots.txt", "by nobody") != 0;
    failed += Download(folder + "/mine.txt", "mine") != 0;
    return failed;
  });
  EXPECT_EQ(ReadFile(folder + "/readonly.txt"), "kept");
  // Written in place: still root's, as writing it would leave it.
  EXPECT_EQ(ReadFile(folder + "/roots.txt"), "by nobody");
  EXPECT_EQ(Stat(folder + "/roots.txt").st_uid, 0u);
  EXPECT_EQ(Stat(folder + "/mine.txt").st_uid, kNobody);
  EXPECT_EQ(Names(folder),
            (std::set<std::string>{"mine.txt", "readonly.txt", "roots.txt"}));
}

}  // namespace
}  // namespace inet
