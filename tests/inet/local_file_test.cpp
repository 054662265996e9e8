// The download's local side under the faults a disk gives: a file is only
// ever replaced by a complete, flushed copy, a file that appears meanwhile is
// never overwritten when the caller asked not to, and no temporary file is
// left behind.
#include "inet/local_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "inet/errors.h"
#include "inet/ftp_client.h"
#include "tests/inet/scripted_server.h"
#include "tests/support/fault_env.h"
#include "tests/support/ftp_server.h"

namespace inet {
namespace {

using testsupport::Exists;
using testsupport::FaultEnv;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

// Writes `bytes` to a new download of `target` and commits it.
DWORD Download(FaultEnv& env, const std::string& target,
               const std::string& bytes, bool fail_if_exists = false) {
  DownloadTarget download(&env);
  if (DWORD e = download.Create(target, fail_if_exists)) return e;
  if (DWORD e = download.file().Write(bytes.data(), bytes.size())) return e;
  return download.Commit();
}

bool NoTemporaryLeft(const FaultEnv& env) {
  for (const std::string& path : env.temporaries())
    if (Exists(path)) return false;
  return true;
}

TEST(DownloadTargetTest, ReplacesOnlyWithACompleteFlushedCopy) {
  TempDir dir;
  FaultEnv env;
  WriteFile(dir / "a.txt", "the copy the user has");
  EXPECT_EQ(Download(env, dir / "a.txt", "new"), 0u);
  EXPECT_EQ(ReadFile(dir / "a.txt"), "new");

  env.sync_error = ERROR_WRITE_FAULT;
  EXPECT_EQ(Download(env, dir / "a.txt", "lost on a crash"), ERROR_WRITE_FAULT);
  EXPECT_EQ(ReadFile(dir / "a.txt"), "new");
  env.sync_error = 0;
  env.close_error = ERROR_DISK_FULL;  // a network file system reports late
  EXPECT_EQ(Download(env, dir / "a.txt", "not stored"), ERROR_DISK_FULL);
  EXPECT_EQ(ReadFile(dir / "a.txt"), "new");
  env.close_error = 0;
  env.disk_space = 4;
  EXPECT_EQ(Download(env, dir / "a.txt", "too big"), ERROR_DISK_FULL);
  EXPECT_EQ(ReadFile(dir / "a.txt"), "new");
  {
    // A download that is never committed (the transfer failed).
    DownloadTarget abandoned(&env);
    ASSERT_EQ(abandoned.Create(dir / "a.txt", false), 0u);
  }
  EXPECT_EQ(ReadFile(dir / "a.txt"), "new");
  EXPECT_EQ(env.temporaries().size(), 5u);
  EXPECT_TRUE(NoTemporaryLeft(env));
}

TEST(DownloadTargetTest, FailIfExistsNeverReplacesAFileThatAppearedMeanwhile) {
  TempDir dir;
  FaultEnv env;
  EXPECT_EQ(Download(env, dir / "a.txt", "first", true), 0u);
  EXPECT_EQ(ReadFile(dir / "a.txt"), "first");
  EXPECT_EQ(Download(env, dir / "a.txt", "second", true), ERROR_FILE_EXISTS);
  env.before_move = [](const std::string& target) {
    WriteFile(target, "written by someone else");
  };
  EXPECT_EQ(Download(env, dir / "b.txt", "ours", true), ERROR_FILE_EXISTS);
  EXPECT_EQ(ReadFile(dir / "b.txt"), "written by someone else");
  // Without fail-if-exists the download replaces it, as asked.
  EXPECT_EQ(Download(env, dir / "b.txt", "ours"), 0u);
  EXPECT_EQ(ReadFile(dir / "b.txt"), "ours");
  EXPECT_TRUE(NoTemporaryLeft(env));
}

TEST(DownloadTargetTest, TargetsThatCannotBeWritten) {
  TempDir dir;
  FaultEnv env;
  DownloadTarget download(&env);
  for (const std::string& name : {std::string(""), dir / "", dir / ".",
                                  dir / ".."}) {
    EXPECT_EQ(download.Create(name, false), ERROR_INVALID_NAME) << name;
  }
  ASSERT_TRUE(std::filesystem::create_directory(dir / "sub"));
  EXPECT_EQ(download.Create(dir / "sub", false), ERROR_ACCESS_DENIED);
  EXPECT_EQ(download.Create(dir / "none/a.txt", false), ERROR_PATH_NOT_FOUND);
  EXPECT_TRUE(env.temporaries().empty());
}

// Through the client: a disk that fills up mid-download gives ERROR_DISK_FULL,
// keeps the file the user has, and leaves the connection usable.
TEST(DownloadTargetTest, FullDiskMidDownloadThroughTheClient) {
  std::vector<std::string> seen;
  scripted::Server server([&](scripted::Peer& p) {
    p.Login();
    for (std::string c = p.Command(); !c.empty(); c = p.Command()) {
      seen.push_back(c);
      if (c == "EPSV") {
        int port = 0;
        const int lfd = scripted::ListenOn("127.0.0.1", &port);
        p.Reply("229 ok (|||" + std::to_string(port) + "|)");
        seen.push_back(p.Command());  // RETR
        const int dfd = scripted::AcceptOne(lfd);
        close(lfd);
        p.Reply("150 here it comes");
        scripted::SendAll(dfd, std::string(1 << 20, 'd'));
        close(dfd);
        p.Reply("226 sent");
      } else if (c == "QUIT") {
        p.Reply("221 bye");
        break;
      } else if (c == "PWD") {
        p.Reply("257 \"/\"");
      } else {
        p.Reply(c.rfind("SIZE", 0) == 0 ? "213 1048576" : "200 ok");
      }
    }
  });
  FaultEnv env;
  env.disk_space = 1000;
  FtpClientOptions options;
  options.io_timeout_ms = 2000;
  FtpClient client(options, &env);
  const HINTERNET net = client.InternetOpenA(nullptr, 0, nullptr, nullptr, 0);
  const HINTERNET conn = client.InternetConnectA(
      net, "127.0.0.1", server.port(), "u", "p", 1, INTERNET_FLAG_PASSIVE, 0);
  ASSERT_NE(conn, 0u);
  TempDir dir;
  WriteFile(dir / "f", "the copy the user has");
  EXPECT_FALSE(client.FtpGetFileA(conn, "f", (dir / "f").c_str(), 0, 0,
                                  FTP_TRANSFER_TYPE_BINARY, 0));
  EXPECT_EQ(client.GetLastError(), ERROR_DISK_FULL);
  EXPECT_EQ(ReadFile(dir / "f"), "the copy the user has");
  EXPECT_TRUE(NoTemporaryLeft(env));
  char cwd[64];
  DWORD size = sizeof cwd;
  EXPECT_TRUE(client.FtpGetCurrentDirectoryA(conn, cwd, &size));
  client.InternetCloseHandle(net);
  server.Join();
  EXPECT_EQ(seen, (std::vector<std::string>{"TYPE I", "SIZE f", "EPSV",
                                            "RETR f", "PWD", "QUIT"}));
}

}  // namespace
}  // namespace inet
