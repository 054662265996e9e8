// Nimbrel over our FTP client against real servers on loopback (pyftpdlib and
// vsftpd): transfers, remote operations and the search.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ftp/nimbrel.h"
#include "inet/errors.h"
#include "inet/ftp_client.h"
#include "tests/support/ftp_server.h"

namespace zorvex {
namespace {

using ::testing::IsEmpty;
using ::testing::StartsWith;
using testsupport::FtpServer;
using testsupport::ServerKind;
namespace fs = std::filesystem;

struct Event {
  int32_t number;
  std::string text;
};

class NimbrelServerTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  void SetUp() override {
    server_ = FtpServer::Start(GetParam());
    ASSERT_TRUE(server_);
    session_ = MakeSession(true);
  }

  std::unique_ptr<Nimbrel> MakeSession(bool use_mlsd) {
    inet::FtpClientOptions options;
    options.connect_timeout_ms = 5000;
    options.io_timeout_ms = 10000;
    options.quit_timeout_ms = 1000;
    options.use_mlsd = use_mlsd;
    auto n = std::make_unique<Nimbrel>(
        std::make_shared<inet::FtpClient>(options));
    n->OnFTPFrr([this](int32_t number, const std::string& text) {
      events_.push_back(Event{number, text});
    });
    n->RemoteHost(server_->address());
    n->RemotePort(server_->port());
    n->User(server_->user());
    n->Password(server_->password());
    n->PassiveFlag(true);
    return n;
  }

  // Opens the session and expects it to work.
  void Open(Nimbrel& n) {
    n.OpenSession();
    ASSERT_NE(n.hFTP(), 0) << Events();
  }

  // The one event expected since the last check: a server reply (4xx/5xx),
  // carried with its own code and text.
  void ExpectServerRefusal(const char* what) {
    ASSERT_EQ(events_.size(), 1u) << what << Events();
    const Event e = events_[0];
    EXPECT_GE(e.number, 400) << what << Events();
    EXPECT_LT(e.number, 600) << what << Events();
    EXPECT_THAT(e.text, StartsWith(std::to_string(e.number))) << what;
    // How each server words its refusals, for the test log.
    std::string line = e.text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
      line.pop_back();
    std::printf("[ %s, %s ] FTPFrr(%d, %s)\n", what,
                testsupport::KindName(GetParam()), e.number, line.c_str());
    events_.clear();
  }

  std::string Events() const {
    std::string s;
    for (const Event& e : events_)
      s += "\n  FTPFrr(" + std::to_string(e.number) + ", " + e.text + ")";
    return s;
  }

  std::string Root(const std::string& name) const {
    return server_->root() + "/" + name;
  }

  // Declared before the sessions, which may report as they close.
  std::vector<Event> events_;
  std::unique_ptr<FtpServer> server_;
  testsupport::TempDir local_;
  std::unique_ptr<Nimbrel> session_;
};

TEST_P(NimbrelServerTest, UploadsAndDownloadsInBothModesAndTypes) {
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary.push_back(static_cast<char>(i * 7));
  binary += "\r\n\n\r\0end";
  const std::string text = "first line\nsecond line\n";
  testsupport::WriteFile(local_ / "bin.dat", binary);
  testsupport::WriteFile(local_ / "text.txt", text);

  for (bool passive : {true, false}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    Nimbrel& n = *session_;
    n.PassiveFlag(passive);
    Open(n);
    const std::string tag = passive ? "p" : "a";

    ASSERT_NE(n.PutFile(local_ / "bin.dat", "bin-" + tag + ".dat", 2), 0)
        << Events();
    EXPECT_EQ(testsupport::ReadFile(Root("bin-" + tag + ".dat")), binary);
    ASSERT_NE(n.GetFile("bin-" + tag + ".dat", local_ / ("bin-" + tag), true, 0), 0)
        << Events();
    EXPECT_EQ(testsupport::ReadFile(local_ / ("bin-" + tag)), binary);

    ASSERT_NE(n.PutFile(local_ / "text.txt", "text-" + tag + ".txt", 1), 0)
        << Events();
    ASSERT_NE(n.GetFile("text-" + tag + ".txt", local_ / ("text-" + tag), false, 1), 0)
        << Events();
    EXPECT_EQ(testsupport::ReadFile(local_ / ("text-" + tag)), text);

    n.CloseSession();
    EXPECT_EQ(n.hFTP(), 0);
  }
  EXPECT_THAT(events_, IsEmpty()) << Events();
}

TEST_P(NimbrelServerTest, FailedTransfersCarryTheServersReply) {
  Nimbrel& n = *session_;
  Open(n);
  EXPECT_EQ(n.GetFile("missing.txt", local_ / "missing.txt", false, 2), 0);
  ExpectServerRefusal("download of a missing file");
  EXPECT_FALSE(testsupport::Exists(local_ / "missing.txt"));

  testsupport::WriteFile(local_ / "up.txt", "x");
  EXPECT_EQ(n.PutFile(local_ / "up.txt", "no/such/dir/up.txt", 2), 0);
  ExpectServerRefusal("upload into a missing folder");

  // A local file that exists is refused before any traffic, with its own code.
  testsupport::WriteFile(Root("there.txt"), "remote");
  testsupport::WriteFile(local_ / "there.txt", "local");
  EXPECT_EQ(n.GetFile("there.txt", local_ / "there.txt", true, 2), 0);
  ASSERT_EQ(events_.size(), 1u) << Events();
  EXPECT_EQ(events_[0].number, static_cast<int32_t>(inet::ERROR_FILE_EXISTS));
  EXPECT_FALSE(events_[0].text.empty());
  EXPECT_EQ(testsupport::ReadFile(local_ / "there.txt"), "local");
}

TEST_P(NimbrelServerTest, RefusedLoginAndClosedPortLeaveNoConnection) {
  Nimbrel& n = *session_;
  if (GetParam() == ServerKind::kPyftpdlib) {
    n.Password("wrong password");
    n.OpenSession();
    EXPECT_EQ(n.hFTP(), 0);
    ExpectServerRefusal("wrong password");
  }
  // A port where nothing listens: the server's own, once it has stopped.
  const int port = server_->port();
  server_.reset();
  n.RemotePort(port);
  n.OpenSession();
  EXPECT_EQ(n.hFTP(), 0);
  ASSERT_EQ(events_.size(), 1u) << Events();
  EXPECT_FALSE(events_[0].text.empty());
}

TEST_P(NimbrelServerTest, ManagesARemoteTree) {
  Nimbrel& n = *session_;
  Open(n);
  const std::string home = n.CurDir();
  ASSERT_FALSE(home.empty()) << Events();
  const std::string dir = "a \"quoted\" dir";
  EXPECT_NE(n.CreateDir(dir), 0) << Events();
  ASSERT_TRUE(fs::is_directory(Root(dir)));

  n.CurDir(dir);
  const std::string expected = (home == "/" ? "" : home) + "/" + dir;
  EXPECT_EQ(n.CurDir(), expected);

  testsupport::WriteFile(local_ / "f.txt", "content");
  EXPECT_NE(n.PutFile(local_ / "f.txt", "f.txt", 2), 0) << Events();
  EXPECT_NE(n.RenameFile("f.txt", "g.txt"), 0) << Events();
  EXPECT_FALSE(testsupport::Exists(Root(dir + "/f.txt")));
  EXPECT_EQ(testsupport::ReadFile(Root(dir + "/g.txt")), "content");
  EXPECT_THAT(events_, IsEmpty()) << Events();

  // Refusals: each returns 0 and reports the server's reply.
  EXPECT_EQ(n.DeleteFile("missing.txt"), 0);
  ExpectServerRefusal("delete a missing file");
  EXPECT_EQ(n.RenameFile("missing.txt", "other.txt"), 0);
  ExpectServerRefusal("rename a missing file");
  n.CurDir("..");
  EXPECT_EQ(n.CurDir(), home);
  EXPECT_EQ(n.RemoveDir(dir), 0);
  ExpectServerRefusal("remove a folder that is not empty");
  n.CurDir("no such dir");
  ExpectServerRefusal("change into a missing folder");

  EXPECT_NE(n.DeleteFile(dir + "/g.txt"), 0) << Events();
  EXPECT_NE(n.RemoveDir(dir), 0) << Events();
  EXPECT_FALSE(testsupport::Exists(Root(dir)));
  // The separator removed from the front keeps the path relative to home.
  EXPECT_NE(n.CreateDir("x y"), 0) << Events();
  n.CurDir("/x y");
  EXPECT_EQ(n.CurDir(), (home == "/" ? "" : home) + "/x y");
  EXPECT_THAT(events_, IsEmpty()) << Events();
}

struct Listed {
  double size;
  int32_t type;
  Date date;
};

std::map<std::string, Listed> ListAll(Nimbrel& n, const std::string& search) {
  std::map<std::string, Listed> out;
  n.FindFile(search);
  for (int guard = 0; !n.RemoteFile()->SearchEnd && guard < 1000; ++guard) {
    const auto f = n.RemoteFile();
    out[f->FileName] = Listed{f->FileSize, f->FileType, f->FileDate};
    n.NextFile();
  }
  return out;
}

TEST_P(NimbrelServerTest, ListsADirectoryThroughMlsdAndList) {
  // A tree with known sizes and times: ten days ago, to the minute (recent
  // enough for a listing to show the time of day).
  const std::time_t when =
      (std::time(nullptr) - 10 * 86400) / 60 * 60;
  fs::create_directories(Root("tree/sub dir"));
  testsupport::WriteFile(Root("tree/a.txt"), "abc");
  testsupport::WriteFile(Root("tree/big name.bin"), std::string(70001, 'b'));
  for (const char* name : {"tree/a.txt", "tree/big name.bin", "tree/sub dir"}) {
    struct utimbuf times {when, when};
    ASSERT_EQ(utime(Root(name).c_str(), &times), 0);
  }
  std::tm utc{};
  gmtime_r(&when, &utc);

  std::map<std::string, Listed> by_mode[2];
  for (bool mlsd : {true, false}) {
    SCOPED_TRACE(mlsd ? "MLSD" : "LIST");
    auto n = MakeSession(mlsd);
    Open(*n);
    auto& listed = by_mode[mlsd ? 0 : 1];
    listed = ListAll(*n, "tree");
    EXPECT_THAT(events_, IsEmpty()) << Events();
    ASSERT_EQ(listed.size(), 3u);
    ASSERT_TRUE(listed.count("a.txt"));
    ASSERT_TRUE(listed.count("big name.bin"));
    ASSERT_TRUE(listed.count("sub dir"));
    EXPECT_EQ(listed["a.txt"].size, 3);
    EXPECT_EQ(listed["a.txt"].type, 0);
    EXPECT_EQ(listed["big name.bin"].size, 70001);
    EXPECT_EQ(listed["sub dir"].type, 16);
    for (const auto& [name, e] : listed) {
      SCOPED_TRACE(name);
      EXPECT_EQ(e.date.Year(), utc.tm_year + 1900);
      EXPECT_EQ(e.date.Month(), utc.tm_mon + 1);
      EXPECT_EQ(e.date.Day(), utc.tm_mday);
      EXPECT_EQ(e.date.Hour(), utc.tm_hour);
      EXPECT_EQ(e.date.Minute(), utc.tm_min);
    }

    // A pattern: only what matches; nothing matching ends at once, quietly.
    const auto txt = ListAll(*n, "tree/*.txt");
    EXPECT_EQ(txt.size(), 1u);
    EXPECT_TRUE(txt.count("a.txt"));
    n->FindFile("tree/*.none");
    EXPECT_TRUE(n->RemoteFile()->SearchEnd);
    EXPECT_EQ(n->RemoteFile()->FileName, "");
    EXPECT_THAT(events_, IsEmpty()) << Events();

    // So does a plain name that is not in its folder.
    for (const char* none : {"tree/missing.txt", "no such file"}) {
      n->FindFile(none);
      EXPECT_TRUE(n->RemoteFile()->SearchEnd) << none;
      EXPECT_THAT(events_, IsEmpty()) << none << ": " << Events();
    }

    // A missing folder is the server's refusal.
    n->FindFile("no such folder/a.txt");
    EXPECT_TRUE(n->RemoteFile()->SearchEnd);
    ExpectServerRefusal("list a missing folder");
    n->CloseSession();
  }
  // Both ways agree on names, sizes of files, types and dates.
  ASSERT_EQ(by_mode[0].size(), by_mode[1].size());
  for (const auto& [name, e] : by_mode[0]) {
    const Listed& other = by_mode[1][name];
    EXPECT_EQ(e.type, other.type) << name;
    if (e.type == 0) {
      EXPECT_EQ(e.size, other.size) << name;
    }
    EXPECT_EQ(e.date.ToString().substr(0, 16), other.date.ToString().substr(0, 16))
        << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Servers, NimbrelServerTest,
                         ::testing::Values(ServerKind::kPyftpdlib,
                                           ServerKind::kVsftpd),
                         [](const auto& info) {
                           return std::string(testsupport::KindName(info.param));
                         });

}  // namespace
}  // namespace zorvex
