// The built zorvexrun, copied into a temporary folder beside its own settings
// file, run as a child process against real FTP servers on loopback: the
// message on standard error, the exit status, the run log and the files on
// both sides.
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <utility>

#include "tests/app/run_sandbox.h"
#include "tests/support/ftp_server.h"

namespace testsupport {
// Test names and failure output show the server by name.
void PrintTo(ServerKind kind, std::ostream* os) { *os << KindName(kind); }
}  // namespace testsupport

namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;
using runsandbox::kLogDone;
using runsandbox::kLogFailed;
using runsandbox::Message;
using runsandbox::Outcome;
using runsandbox::Sandbox;
using testsupport::Exists;
using testsupport::FtpServer;
using testsupport::ReadFile;
using testsupport::ServerKind;
using testsupport::WriteFile;

// ---------------------------------------------------------------------------
// Everything that fails before a connection, and a connection that fails.

struct Case {
  const char* name;
  // Settings text; nullptr: no settings file.
  const char* settings;
  // The tail; "{w}" stands for the work folder, "{d}" for the sandbox.
  std::string tail;
  // The expected text after "zorvexrun: ", with the same substitutions.
  std::string message;
  int status;
};

std::string Expand(std::string s, const Sandbox& box) {
  for (auto [key, value] : {std::pair<std::string, std::string>{"{w}", box.work()},
                            {"{d}", box.path("")}}) {
    for (size_t at; (at = s.find(key)) != std::string::npos;) {
      s.replace(at, key.size(), value);
    }
  }
  return s;
}

class RunFailureTest : public ::testing::TestWithParam<Case> {};

constexpr const char* kClosedPort = "127.0.0.1:1,user,secret-pw,1,0,\r\n";

TEST_P(RunFailureTest, ShowsOneMessageAndLogsNoEnd) {
  const Case& c = GetParam();
  Sandbox box;
  if (c.settings != nullptr) box.Settings(c.settings);
  WriteFile(box.work() + "/a.txt", "local bytes");
  const Outcome out = box.Run(Expand(c.tail, box));
  EXPECT_EQ(out.err, Message(Expand(c.message, box)));
  EXPECT_EQ(out.status, c.status);
  EXPECT_EQ(out.out, "");
  EXPECT_THAT(box.Log(), MatchesRegex(kLogFailed));
  EXPECT_EQ(ReadFile(box.work() + "/a.txt"), "local bytes");
}

INSTANTIATE_TEST_SUITE_P(
    Messages, RunFailureTest,
    ::testing::Values(
        Case{"NoSettings", nullptr, "/p a.txt,/a.txt", "Not Found {d}zorvex", 2},
        Case{"EmptySettings", "", "/p a.txt,/a.txt", "Empty {d}zorvex", 2},
        Case{"NoArgument", kClosedPort, "", "Command Error Not comma ", 3},
        Case{"NoComma", kClosedPort, "/p {w}/a.txt",
             "Command Error Not comma /p {w}/a.txt", 3},
        Case{"NotPutOrGet", kClosedPort, "/x a,b",
             "Command Error Not /p or /g /x a,b", 3},
        Case{"CapitalP", kClosedPort, "/P a.txt,/a.txt",
             "Command Error Not /p or /g /P a.txt,/a.txt", 3},
        Case{"CapitalG", kClosedPort, "/G /a.txt,{w}/",
             "Command Error Not /p or /g /G /a.txt,{w}/", 3},
        Case{"CommaAt1", kClosedPort, ",p a", "Command Error Not /p or /g ,p a",
             3},
        Case{"CommaAt2", kClosedPort, "/,p a",
             "Command Error Not /p or /g /,p a", 3},
        Case{"PutCommaAt3", kClosedPort, "/p,a.txt",
             "Invalid procedure call or argument", 1},
        Case{"GetCommaAt3", kClosedPort, "/g,{w}/",
             "Invalid procedure call or argument", 1},
        Case{"PutCommaAt4", kClosedPort, "/p ,/a.txt", "Not found infile ", 4},
        Case{"GetCommaAt4", kClosedPort, "/g ,{w}/",
             "Invalid procedure call or argument", 1},
        Case{"RemotePathWithoutSlash", kClosedPort, "/g a.txt,{w}/",
             "Invalid procedure call or argument", 1},
        Case{"InfileMissing", kClosedPort, "/p {w}/none.txt,/a.txt",
             "Not found infile {w}/none.txt", 4},
        Case{"InfileIsAFolder", kClosedPort, "/p {w},/a.txt",
             "Not found infile {w}", 4},
        Case{"OutfolderMissing", kClosedPort, "/g /a.txt,{w}/none/",
             "Not found outfolder {w}/none/", 4},
        Case{"EmptySecondPiece", kClosedPort, "/p {w}/a.txt,   ",
             "Command Error I/O Set /p {w}/a.txt,   ", 3},
        Case{"EmptyRemoteName", kClosedPort, "/g /pub/,{w}/",
             "Command Error I/O Set /g /pub/,{w}/", 3},
        Case{"FewerThanSixFields", "127.0.0.1:1,user,secret-pw,1,0",
             "/p a.txt,/a.txt", "Input past end of file", 1},
        Case{"NonNumericFlag", "127.0.0.1:1,user,secret-pw,yes,0,",
             "/p a.txt,/a.txt", "Type mismatch", 1},
        Case{"FlagOverflow", "127.0.0.1:1,user,secret-pw,1,99999999999,",
             "/p a.txt,/a.txt", "Overflow", 1},
        Case{"ClosedPort", kClosedPort, "/p {w}/a.txt,/a.txt", "Conect Error ",
             5},
        Case{"WildcardInfileClosedPort", kClosedPort, "/p {w}/?.txt,/a.txt",
             "Conect Error ", 5}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(RunTest, HelpAndVersionGoToStandardOutput) {
  Sandbox box;
  const Outcome help = box.RunArgs({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_THAT(help.out, HasSubstr("/p LOCALFILE,REMOTEPATH"));
  EXPECT_THAT(help.out, HasSubstr("6  the upload or download failed"));
  const Outcome version = box.RunArgs({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_THAT(version.out, MatchesRegex("zorvexrun [0-9.]+\n"));
  // Anything else is a run: no settings file here.
  const Outcome other = box.RunArgs({"--help", "x"});
  EXPECT_EQ(other.status, 2);
  EXPECT_EQ(other.err, Message("Not Found " + box.path("zorvex")));
  EXPECT_THAT(box.Log(), MatchesRegex(kLogFailed));
}

TEST(RunTest, ArgumentsAreJoinedBySingleSpaces) {
  Sandbox box;
  box.Settings(kClosedPort);
  const Outcome out = box.RunArgs({"/x", "a,", "b"});
  EXPECT_EQ(out.err, Message("Command Error Not /p or /g /x a, b"));
}

TEST(RunTest, UnwritableLogIsReportedTwiceAndKeepsTheFirstStatus) {
  Sandbox box;
  box.Settings(kClosedPort);
  ASSERT_EQ(mkdir(box.path("zorvexlog.txt").c_str(), 0755), 0);
  const Outcome out = box.Run("/p a");
  EXPECT_EQ(out.err, Message("Command Error Not comma /p a") +
                         Message("Path/File access error") +
                         Message("Run-time error '75': Path/File access error"));
  EXPECT_EQ(out.status, 3);
}

TEST(RunTest, HostileInputNeverCrashes) {
  Sandbox box;
  // A settings file with a line of megabytes, NUL bytes and invalid bytes.
  box.Settings(std::string(4 << 20, 'h') + std::string(",\0u\xff,p\xfe,1,0,", 12));
  WriteFile(box.work() + "/a.txt", "x");
  Outcome out = box.Run("/p " + box.work() + "/a.txt,/a.txt");
  EXPECT_EQ(out.err, Message("Conect Error "));
  EXPECT_EQ(out.status, 5);
  // Settings that read but name no server that answers.
  for (const std::string& settings :
       {std::string(",,,,,"), std::string("\"127.0.0.1:1,u,p,1,0,"),
        std::string("127.0.0.1:1,\"u\"x\"y,\"p\r\n\",1,0,\n")}) {
    box.Settings(settings);
    out = box.Run("/p " + box.work() + "/a.txt,/a.txt");
    EXPECT_EQ(out.status, settings[0] == '"' ? 1 : 5) << settings;
  }
  // A very long tail that is not valid UTF-8.
  box.Settings(kClosedPort);
  const std::string tail = "/p\xff" + std::string(100000, '\xC3') + ",\xfe";
  out = box.Run(tail);
  EXPECT_EQ(out.err, Message("Not found infile " + std::string(100000, '\xC3')));
  EXPECT_EQ(out.status, 4);
  EXPECT_THAT(box.Log(), MatchesRegex(kLogFailed));
}

// ---------------------------------------------------------------------------
// Transfers against real servers.

// A loopback address of this test's own (127.0.N.last), so that tests run in
// parallel do not compete for port 21.
std::string OwnLoopback(int last) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string name =
      std::string(info->test_suite_name()) + "." + info->name();
  const size_t n = 16 + std::hash<std::string>{}(name) % 230;
  return "127.0." + std::to_string(n) + "." + std::to_string(last);
}

std::string AllBytes() {
  std::string bytes;
  for (int round = 0; round < 300; ++round) {
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  }
  return bytes + "\r\n\n\r";
}

class TransferTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  void SetUp() override {
    const bool vsftpd = GetParam() == ServerKind::kVsftpd;
    server_ = FtpServer::Start(GetParam(), {OwnLoopback(vsftpd ? 3 : 2), 21});
    ASSERT_NE(server_, nullptr);
    WriteFile(box_.work() + "/a.bin", AllBytes());
  }

  // Settings for the server on port 21, without a port suffix.
  std::string Settings(int binary, int passive,
                       const std::string& password = "") const {
    return "\"" + server_->address() + "\"," + server_->user() + ",\"" +
           (password.empty() ? server_->password() : password) + "\"," +
           std::to_string(binary) + "," + std::to_string(passive) + ",\r\n";
  }

  void ExpectSuccess(const Outcome& out) {
    EXPECT_EQ(out.err, "");
    EXPECT_EQ(out.status, 0);
    EXPECT_THAT(box_.Log(), MatchesRegex(kLogDone));
    ExpectNoPassword(out);
  }
  void ExpectNoPassword(const Outcome& out) {
    for (const std::string& text : {out.out, out.err, box_.Log()}) {
      EXPECT_THAT(text, Not(HasSubstr(server_->password())));
    }
  }

  std::unique_ptr<FtpServer> server_;
  Sandbox box_;
};

TEST_P(TransferTest, UploadThenDownloadKeepsEveryByte) {
  for (int passive : {0, 1}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    box_.Settings(Settings(1, passive));
    std::filesystem::remove(server_->root() + "/up.bin");
    // The third character is skipped whatever it is.
    ExpectSuccess(box_.Run("/p_" + box_.work() + "/a.bin, /up.bin "));
    EXPECT_TRUE(ReadFile(server_->root() + "/up.bin") == AllBytes()) << "bytes differ";

    WriteFile(box_.work() + "/up.bin", "an older local file");
    ExpectSuccess(box_.Run("/g /up.bin," + box_.work() + "/"));
    EXPECT_TRUE(ReadFile(box_.work() + "/up.bin") == AllBytes()) << "bytes differ";
  }
}

TEST_P(TransferTest, DownloadPathsAreJoinedAsWritten) {
  std::filesystem::create_directories(server_->root() + "/pub/dir");
  WriteFile(server_->root() + "/pub/dir/r.txt", "remote bytes");
  box_.Settings(Settings(1, 1));
  // Without the folder's final "/", the name is appended to the folder's.
  ExpectSuccess(box_.Run("/g /pub/dir/r.txt," + box_.work()));
  EXPECT_EQ(ReadFile(box_.work() + "r.txt"), "remote bytes");
  // A remote path relative to the login folder, a local one relative to the
  // current folder.
  std::filesystem::create_directory(box_.work() + "/in");
  ExpectSuccess(box_.Run("/g pub/dir/r.txt,in/"));
  EXPECT_EQ(ReadFile(box_.work() + "/in/r.txt"), "remote bytes");
}

TEST_P(TransferTest, AsciiModeTransfersText) {
  box_.Settings(Settings(0, 1));
  WriteFile(box_.work() + "/t.txt", "line 1\nline 2\n");
  ExpectSuccess(box_.Run("/p " + box_.work() + "/t.txt,/t.txt"));
  EXPECT_EQ(ReadFile(server_->root() + "/t.txt"), "line 1\nline 2\n");
}

TEST_P(TransferTest, RefusedLoginIsAConnectError) {
  const std::string wrong = "wrong-password-77";
  box_.Settings(Settings(1, 1, wrong));
  const Outcome out = box_.Run("/p " + box_.work() + "/a.bin,/a.bin");
  EXPECT_EQ(out.err, Message("Conect Error "));
  EXPECT_EQ(out.status, 5);
  EXPECT_THAT(box_.Log(), MatchesRegex(kLogFailed));
  EXPECT_THAT(out.err + box_.Log(), Not(HasSubstr(wrong)));
  EXPECT_FALSE(Exists(server_->root() + "/a.bin"));
}

TEST_P(TransferTest, FailedTransfersKeepLocalFilesAsTheyWere) {
  box_.Settings(Settings(1, 1));
  Outcome out = box_.Run("/p " + box_.work() + "/a.bin,/no/such/dir/a.bin");
  EXPECT_EQ(out.err, Message("Put Error "));
  EXPECT_EQ(out.status, 6);
  EXPECT_THAT(box_.Log(), MatchesRegex(kLogFailed));

  WriteFile(box_.work() + "/gone.txt", "keep me");
  out = box_.Run("/g /gone.txt," + box_.work() + "/");
  EXPECT_EQ(out.err, Message("Get Error "));
  EXPECT_EQ(out.status, 6);
  EXPECT_EQ(ReadFile(box_.work() + "/gone.txt"), "keep me");
  // Nothing is left under the name of a download that failed.
  out = box_.Run("/g /new.txt," + box_.work() + "/");
  EXPECT_EQ(out.status, 6);
  EXPECT_FALSE(Exists(box_.work() + "/new.txt"));
  ExpectNoPassword(out);
}

TEST_P(TransferTest, UnwritableLogAfterSuccess) {
  box_.Settings(Settings(1, 1));
  ASSERT_EQ(mkdir(box_.path("zorvexlog.txt").c_str(), 0755), 0);
  const Outcome out = box_.Run("/p " + box_.work() + "/a.bin,/a.bin");
  EXPECT_EQ(out.err, Message("Path/File access error") +
                         Message("Run-time error '75': Path/File access error"));
  EXPECT_EQ(out.status, 1);
  EXPECT_TRUE(ReadFile(server_->root() + "/a.bin") == AllBytes()) << "bytes differ";
}

// Kinds of download target: a link is followed and the owner and mode of
// the file it names stay (as root, the file another user's); run as a
// normal user, a read-only file is refused and keeps its bytes.
TEST_P(TransferTest, DownloadsDoNoMoreThanWritingTheFileWould) {
  if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0)
    GTEST_SKIP() << "needs root and setpriv to become another user";
  box_.Settings(Settings(1, 1));
  WriteFile(server_->root() + "/r.txt", "remote bytes");
  std::filesystem::create_directory(box_.work() + "/real");
  WriteFile(box_.work() + "/real/r.txt", "old");
  ASSERT_EQ(chown((box_.work() + "/real/r.txt").c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod((box_.work() + "/real/r.txt").c_str(), 0604), 0);
  ASSERT_EQ(symlink("real/r.txt", (box_.work() + "/r.txt").c_str()), 0);
  ExpectSuccess(box_.Run("/g /r.txt," + box_.work() + "/"));
  struct stat st {};
  ASSERT_EQ(lstat((box_.work() + "/r.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat((box_.work() + "/real/r.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  EXPECT_EQ(ReadFile(box_.work() + "/real/r.txt"), "remote bytes");

  // The same run as "nobody", in a folder of its own.
  for (const std::string& path : {box_.path(""), box_.path("zorvexlog.txt"),
                                  box_.work(), box_.work() + "/real"})
    ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0) << path;
  ASSERT_EQ(chmod((box_.work() + "/real/r.txt").c_str(), 0444), 0);
  WriteFile(server_->root() + "/r.txt", "newer remote bytes");
  const Outcome out =
      runsandbox::RunChild({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                            "--clear-groups", box_.exe(),
                            "/g /r.txt," + box_.work() + "/"},
                           box_.work(), 60);
  EXPECT_EQ(out.err, Message("Get Error "));
  EXPECT_EQ(out.status, 6);
  EXPECT_THAT(box_.Log(), MatchesRegex(kLogFailed));
  EXPECT_EQ(ReadFile(box_.work() + "/real/r.txt"), "remote bytes");
  EXPECT_EQ(box_.WorkNames(), (std::set<std::string>{"a.bin", "r.txt", "real"}));
}

INSTANTIATE_TEST_SUITE_P(Servers, TransferTest,
                         ::testing::Values(ServerKind::kPyftpdlib,
                                           ServerKind::kVsftpd),
                         [](const auto& info) {
                           return std::string(testsupport::KindName(info.param));
                         });

TEST(PortSuffixTest, HostPortReachesAServerOnAnyPort) {
  auto server = FtpServer::Start(ServerKind::kPyftpdlib, {"127.0.0.1", 0});
  ASSERT_NE(server, nullptr);
  Sandbox box;
  box.Settings("127.0.0.1:" + std::to_string(server->port()) + "," +
               server->user() + "," + server->password() + ",1,1,\r\n");
  WriteFile(box.work() + "/p.txt", "over the port suffix");
  Outcome out = box.Run("/p " + box.work() + "/p.txt,/p.txt");
  EXPECT_EQ(out.err, "");
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(ReadFile(server->root() + "/p.txt"), "over the port suffix");
  EXPECT_THAT(box.Log(), MatchesRegex(kLogDone));
  // IPv6 form: "[::1]:port" names the address, here with nobody listening.
  box.Settings("[::1]:1," + server->user() + "," + server->password() +
               ",1,1,\r\n");
  out = box.Run("/p " + box.work() + "/p.txt,/p.txt");
  EXPECT_EQ(out.err, Message("Conect Error "));
  EXPECT_EQ(out.status, 5);
}

}  // namespace
