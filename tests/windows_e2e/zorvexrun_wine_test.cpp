// zorvexrun.exe, the Windows build, run under wine64 against the same real
// servers on loopback as the Linux end-to-end tests: a copy of the program in
// a folder of its own beside its settings file, local paths in Windows forms
// (the folder Z:\tmp\... is /tmp/... here), and the message on standard
// error, the exit status, the run log and the files on both sides checked as
// on Linux. Standard error is a Windows text stream: its lines end in CR LF.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/run_sandbox.h"
#include "tests/support/fault_server.h"
#include "tests/support/ftp_server.h"

namespace testsupport {
void PrintTo(ServerKind kind, std::ostream* os) { *os << KindName(kind); }
}  // namespace testsupport

namespace {

using runsandbox::kLogDone;
using runsandbox::kLogFailed;
using runsandbox::Outcome;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::Not;
using testsupport::Exists;
using testsupport::FaultOptions;
using testsupport::FaultServer;
using testsupport::FtpServer;
using testsupport::ReadFile;
using testsupport::ServerKind;
using testsupport::TempDir;
using testsupport::WriteFile;

// What zorvexrun.exe writes on standard error for a message text.
std::string Message(const std::string& text) {
  return "zorvexrun: " + text + "\r\n";
}

// The Windows name of a path of this system: drive Z: is its root.
std::string Win(const std::string& path) {
  std::string out = "Z:" + path;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

// The words of a tail, as separate arguments: wine joins them with single
// spaces and quotes none of them, so the program's raw tail is the text
// itself, as a user types it in a console.
std::vector<std::string> Words(const std::string& tail) {
  std::vector<std::string> words;
  std::istringstream in(tail);
  for (std::string word; std::getline(in, word, ' ');) words.push_back(word);
  return words;
}

// The folder of one run: zorvexrun.exe, "zorvex", "zorvexlog.txt", work\.
class WineBox {
 public:
  WineBox() {
    std::filesystem::copy_file(ZORVEXRUN_EXE, exe());
    std::filesystem::create_directory(work());
  }
  std::string exe() const { return dir_ / "zorvexrun.exe"; }
  std::string path(const std::string& name) const { return dir_ / name; }
  std::string work() const { return dir_ / "work"; }
  // The work folder as the program is given it.
  std::string win_work() const { return Win(work()); }
  void Settings(const std::string& bytes) const {
    WriteFile(dir_ / "zorvex", bytes);
  }
  std::string Log() const { return ReadFile(dir_ / "zorvexlog.txt"); }

  // Runs with `tail` typed after the program's name, in work().
  Outcome Run(const std::string& tail, int timeout_s = 60) const {
    return RunArgs(tail.empty() ? std::vector<std::string>{} : Words(tail),
                   timeout_s);
  }
  Outcome RunArgs(std::vector<std::string> args, int timeout_s = 60) const {
    args.insert(args.begin(), {ZORVEX_WINE_RUN, exe()});
    return runsandbox::RunChild(args, work(), timeout_s);
  }
  // Starts a run with its output in files beside it; returns the pid of the
  // wine process, which runs the program and takes its Ctrl+C (SIGINT).
  pid_t Start(const std::string& tail) const {
    std::vector<std::string> args = Words(tail);
    args.insert(args.begin(), {ZORVEX_WINE_RUN, exe()});
    const pid_t pid = fork();
    if (pid == 0) {
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      if (!freopen(path("stdout").c_str(), "w", stdout) ||
          !freopen(path("stderr").c_str(), "w", stderr) ||
          chdir(work().c_str()) != 0)
        _exit(126);
      execv(argv[0], argv.data());
      _exit(127);
    }
    return pid;
  }

  std::set<std::string> WorkNames() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(work()))
      names.insert(entry.path().filename().string());
    return names;
  }

 private:
  TempDir dir_;
};

// ---------------------------------------------------------------------------
// Everything that fails before a connection, and a connection that fails.

struct Case {
  const char* name;
  const char* settings;  // nullptr: no settings file
  // The tail; "{w}" stands for the work folder and "{d}" for the program's
  // folder with its final "\", both in Windows form.
  std::string tail;
  std::string message;  // after "zorvexrun: ", with the same substitutions
  int status;
};

std::string Expand(std::string s, const WineBox& box) {
  for (auto [key, value] :
       {std::pair<std::string, std::string>{"{w}", box.win_work()},
        {"{d}", Win(box.path(""))}}) {
    for (size_t at; (at = s.find(key)) != std::string::npos;)
      s.replace(at, key.size(), value);
  }
  return s;
}

constexpr const char* kClosedPort = "127.0.0.1:1,user,secret-pw,1,0,\r\n";

class WineFailureTest : public ::testing::TestWithParam<Case> {};

TEST_P(WineFailureTest, ShowsOneMessageAndLogsNoEnd) {
  const Case& c = GetParam();
  WineBox box;
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
    Messages, WineFailureTest,
    ::testing::Values(
        Case{"NoSettings", nullptr, "/p a.txt,/a.txt", "Not Found {d}zorvex",
             2},
        Case{"EmptySettings", "", "/p a.txt,/a.txt", "Empty {d}zorvex", 2},
        Case{"NoArgument", kClosedPort, "", "Command Error Not comma ", 3},
        Case{"NoComma", kClosedPort, "/p {w}\\a.txt",
             "Command Error Not comma /p {w}\\a.txt", 3},
        Case{"PutCommaAt3", kClosedPort, "/p,a.txt",
             "Invalid procedure call or argument", 1},
        // The remote path is split at "/" only, on Windows too.
        Case{"RemotePathWithBackslashOnly", kClosedPort, "/g pub\\a.txt,{w}\\",
             "Invalid procedure call or argument", 1},
        Case{"InfileMissing", kClosedPort, "/p {w}\\none.txt,/a.txt",
             "Not found infile {w}\\none.txt", 4},
        Case{"InfileIsAFolder", kClosedPort, "/p {w},/a.txt",
             "Not found infile {w}", 4},
        Case{"WildcardMatchesNothing", kClosedPort, "/p {w}\\*.doc,/a.txt",
             "Not found infile {w}\\*.doc", 4},
        Case{"OutfolderMissing", kClosedPort, "/g /a.txt,{w}\\none\\",
             "Not found outfolder {w}\\none\\", 4},
        Case{"OutfolderOnAMissingDrive", kClosedPort, "/g /a.txt,Q:\\in\\",
             "Not found outfolder Q:\\in\\", 4},
        Case{"NonNumericFlag", "127.0.0.1:1,user,secret-pw,yes,0,",
             "/p a.txt,/a.txt", "Type mismatch", 1},
        Case{"ClosedPort", kClosedPort, "/p {w}\\a.txt,/a.txt", "Conect Error ",
             5},
        Case{"RelativeInfileClosedPort", kClosedPort, "/p .\\a.txt,/a.txt",
             "Conect Error ", 5},
        Case{"WildcardInfileClosedPort", kClosedPort, "/p {w}\\?.TXT,/a.txt",
             "Conect Error ", 5},
        Case{"TlsIsRefused", "ftpes://127.0.0.1:1,user,secret-pw,1,1,\r\n",
             "/p {w}\\a.txt,/a.txt", "Conect Error ", 5}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(WineRunTest, TheTailIsTheRawCommandLine) {
  WineBox box;
  box.Settings(kClosedPort);
  // An argument with a space reaches the program in quotes, as a Windows
  // program is given it; the quotes are part of the tail.
  const Outcome out = box.RunArgs({"/x", "a b,c"});
  EXPECT_EQ(out.err, Message("Command Error Not /p or /g /x \"a b,c\""));
  EXPECT_EQ(out.status, 3);
}

// ---------------------------------------------------------------------------
// Transfers against real servers.

std::string OwnLoopback(int last) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string name =
      std::string(info->test_suite_name()) + "." + info->name();
  const size_t n = 16 + std::hash<std::string>{}(name) % 230;
  return "127.0." + std::to_string(n) + "." + std::to_string(last);
}

std::string AllBytes() {
  std::string bytes;
  for (int round = 0; round < 300; ++round)
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  return bytes + "\r\n\n\r";
}

class WineTransferTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  void SetUp() override {
    const bool vsftpd = GetParam() == ServerKind::kVsftpd;
    server_ = FtpServer::Start(GetParam(), {OwnLoopback(vsftpd ? 3 : 2), 21});
    ASSERT_NE(server_, nullptr);
    WriteFile(box_.work() + "/a.bin", AllBytes());
  }
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
    for (const std::string& text : {out.out, out.err, box_.Log()})
      EXPECT_THAT(text, Not(HasSubstr(server_->password())));
  }

  std::unique_ptr<FtpServer> server_;
  WineBox box_;
};

TEST_P(WineTransferTest, UploadThenDownloadKeepsEveryByte) {
  for (int passive : {0, 1}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    box_.Settings(Settings(1, passive));
    std::filesystem::remove(server_->root() + "/up.bin");
    ExpectSuccess(box_.Run("/p_" + box_.win_work() + "\\a.bin, /up.bin"));
    EXPECT_TRUE(ReadFile(server_->root() + "/up.bin") == AllBytes())
        << "bytes differ";
    // Onto an older file, which the download replaces in one step.
    WriteFile(box_.work() + "/up.bin", "an older local file");
    const std::set<std::string> names = box_.WorkNames();
    ExpectSuccess(box_.Run("/g /up.bin," + box_.win_work() + "\\"));
    EXPECT_TRUE(ReadFile(box_.work() + "/up.bin") == AllBytes())
        << "bytes differ";
    EXPECT_EQ(box_.WorkNames(), names);  // no temporary file left
  }
}

TEST_P(WineTransferTest, LocalPathsInWindowsForms) {
  std::filesystem::create_directories(server_->root() + "/pub/dir");
  WriteFile(server_->root() + "/pub/dir/r.txt", "remote bytes");
  box_.Settings(Settings(1, 1));
  // The folder and the name are joined directly: without its final "\" the
  // folder's name runs into the file's.
  ExpectSuccess(box_.Run("/g /pub/dir/r.txt," + box_.win_work()));
  EXPECT_EQ(ReadFile(box_.work() + "r.txt"), "remote bytes");
  // Relative to the current folder, with either separator.
  std::filesystem::create_directory(box_.work() + "/in");
  ExpectSuccess(box_.Run("/g pub/dir/r.txt,in\\"));
  EXPECT_EQ(ReadFile(box_.work() + "/in/r.txt"), "remote bytes");
  ExpectSuccess(box_.Run("/g /pub/dir/r.txt,Z:" + box_.work() + "/in"));
  EXPECT_EQ(ReadFile(box_.work() + "/inr.txt"), "remote bytes");
  // A path with spaces needs no quotes: the tail is split at its comma.
  WriteFile(box_.work() + "/my file.txt", "spaced");
  ExpectSuccess(
      box_.Run("/p " + box_.win_work() + "\\my file.txt,/spaced.txt"));
  EXPECT_EQ(ReadFile(server_->root() + "/spaced.txt"), "spaced");
}

TEST_P(WineTransferTest, AsciiModeKeepsWindowsLineEndsLocally) {
  box_.Settings(Settings(0, 1));
  WriteFile(box_.work() + "/t.txt", "line 1\r\nline 2\n");
  ExpectSuccess(box_.Run("/p " + box_.win_work() + "\\t.txt,/t.txt"));
  EXPECT_EQ(ReadFile(server_->root() + "/t.txt"), "line 1\nline 2\n");
  WriteFile(server_->root() + "/u.txt", "line 1\nline 2\n");
  ExpectSuccess(box_.Run("/g /u.txt," + box_.win_work() + "\\"));
  EXPECT_EQ(ReadFile(box_.work() + "/u.txt"), "line 1\r\nline 2\r\n");
}

TEST_P(WineTransferTest, FailuresKeepLocalFilesAsTheyWere) {
  box_.Settings(Settings(1, 1, "wrong-password-77"));
  Outcome out = box_.Run("/p " + box_.win_work() + "\\a.bin,/a.bin");
  EXPECT_EQ(out.err, Message("Conect Error "));
  EXPECT_EQ(out.status, 5);
  EXPECT_FALSE(Exists(server_->root() + "/a.bin"));

  box_.Settings(Settings(1, 1));
  out = box_.Run("/p " + box_.win_work() + "\\a.bin,/no/such/dir/a.bin");
  EXPECT_EQ(out.err, Message("Put Error "));
  EXPECT_EQ(out.status, 6);
  EXPECT_THAT(box_.Log(), MatchesRegex(kLogFailed));

  WriteFile(box_.work() + "/gone.txt", "keep me");
  const std::set<std::string> names = box_.WorkNames();
  out = box_.Run("/g /gone.txt," + box_.win_work() + "\\");
  EXPECT_EQ(out.err, Message("Get Error "));
  EXPECT_EQ(out.status, 6);
  EXPECT_EQ(ReadFile(box_.work() + "/gone.txt"), "keep me");
  out = box_.Run("/g /new.txt," + box_.win_work() + "\\");
  EXPECT_EQ(out.status, 6);
  EXPECT_EQ(box_.WorkNames(), names);  // nothing new, no temporary file
}

INSTANTIATE_TEST_SUITE_P(Servers, WineTransferTest,
                         ::testing::Values(ServerKind::kPyftpdlib,
                                           ServerKind::kVsftpd),
                         [](const auto& info) {
                           return std::string(
                               testsupport::KindName(info.param));
                         });

TEST(WineIPv6Test, BothModesOverIPv6) {
  auto server = FtpServer::Start(ServerKind::kPyftpdlib, {"::1", 0});
  ASSERT_NE(server, nullptr);
  WineBox box;
  WriteFile(box.work() + "/a.bin", AllBytes());
  for (int passive : {0, 1}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    box.Settings("[::1]:" + std::to_string(server->port()) + "," +
                 server->user() + "," + server->password() + ",1," +
                 std::to_string(passive) + ",\r\n");
    std::filesystem::remove(server->root() + "/v6.bin");
    Outcome out = box.Run("/p " + box.win_work() + "\\a.bin,/v6.bin");
    EXPECT_EQ(out.err, "");
    EXPECT_EQ(out.status, 0);
    EXPECT_TRUE(ReadFile(server->root() + "/v6.bin") == AllBytes());
    out = box.Run("/g /v6.bin," + box.win_work() + "\\");
    EXPECT_EQ(out.status, 0);
    EXPECT_TRUE(ReadFile(box.work() + "/v6.bin") == AllBytes());
  }
}

// ---------------------------------------------------------------------------
// A server that misbehaves in a named way (tests/support/faultftpd.py).

const char kPassword[] = "pw-wine-5";

std::string Bytes(char seed) {
  std::string bytes(1 << 20, '\0');
  uint32_t x = static_cast<unsigned char>(seed) * 2654435761u + 1;
  for (char& c : bytes) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return bytes;
}

class WineFaultRun {
 public:
  explicit WineFaultRun(const std::string& scenario,
                        const FaultOptions& options = {})
      : server_(FaultServer::Start(scenario, options)) {
    if (!server_) return;
    WriteFile(server_->root() + "/keep.bin", Bytes('k'));
    WriteFile(server_->root() + "/new.bin", Bytes('n'));
    WriteFile(box_.work() + "/up.bin", Bytes('u'));
    WriteFile(box_.work() + "/keep.bin", "the older local copy");
    names_ = box_.WorkNames();
  }
  bool started() const { return server_ != nullptr; }
  FaultServer& server() { return *server_; }
  const WineBox& box() const { return box_; }

  void Settings(int passive, const std::string& scheme = "") const {
    box_.Settings(scheme + server_->address() + ":" +
                  std::to_string(server_->port()) + ",user,\"" + kPassword +
                  "\",1," + std::to_string(passive) + ",\r\n");
  }
  std::string PutTail() const {
    return "/p " + box_.win_work() + "\\up.bin,/up.bin";
  }
  std::string GetTail(const std::string& name) const {
    return "/g /" + name + "," + box_.win_work() + "\\";
  }
  void ExpectFailure(const Outcome& out, const std::string& message,
                     int status) const {
    EXPECT_EQ(out.err, Message(message));
    EXPECT_EQ(out.status, status);
    EXPECT_THAT(box_.Log(), MatchesRegex(kLogFailed));
    ExpectLocalFilesKept();
    EXPECT_THAT(out.err + box_.Log(), Not(HasSubstr(kPassword)));
  }
  void ExpectSuccess(const Outcome& out) const {
    EXPECT_EQ(out.err, "");
    EXPECT_EQ(out.status, 0);
    EXPECT_THAT(box_.Log(), MatchesRegex(kLogDone));
  }
  void ExpectLocalFilesKept() const {
    EXPECT_TRUE(ReadFile(box_.work() + "/up.bin") == Bytes('u'));
    EXPECT_EQ(ReadFile(box_.work() + "/keep.bin"), "the older local copy");
    EXPECT_EQ(box_.WorkNames(), names_);
  }

 private:
  WineBox box_;
  std::unique_ptr<FaultServer> server_;
  std::set<std::string> names_;
};

struct FaultCase {
  const char* name;
  const char* scenario;
  const char* fault_at;
  char mode;
  int passive;
  const char* message;
  int status;
};

class WineFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(WineFaultTest, EndsWithItsMessageAndKeepsLocalFiles) {
  const FaultCase& c = GetParam();
  FaultOptions options;
  options.fault_at = c.fault_at;
  WineFaultRun run(c.scenario, options);
  ASSERT_TRUE(run.started());
  run.Settings(c.passive);
  const Outcome out = run.box().Run(
      c.mode == 'p' ? run.PutTail() : run.GetTail("keep.bin"), 30);
  run.ExpectFailure(out, c.message, c.status);
  EXPECT_LT(out.seconds, 20);
  EXPECT_THAT(run.server().Events("fault"), Not(IsEmpty()));
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, WineFaultTest,
    ::testing::Values(
        FaultCase{"CloseMidStor", "close-mid-stor", "", 'p', 1, "Put Error ", 6},
        FaultCase{"CloseMidStorActive", "close-mid-stor", "", 'p', 0,
                  "Put Error ", 6},
        FaultCase{"CloseMidRetr", "close-mid-retr", "", 'g', 1, "Get Error ", 6},
        FaultCase{"CloseMidRetrActive", "close-mid-retr", "", 'g', 0,
                  "Get Error ", 6},
        FaultCase{"ResetDataOnRetr", "reset-data-mid-transfer", "", 'g', 1,
                  "Get Error ", 6},
        FaultCase{"ResetDataOnStor", "reset-data-mid-transfer", "", 'p', 1,
                  "Put Error ", 6},
        FaultCase{"ShortRetr", "short-retr", "", 'g', 1, "Get Error ", 6}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WineFaultSurvivedTest, PasvNamingAnotherHostIsNotFollowed) {
  WineFaultRun run("pasv-other-host");
  ASSERT_TRUE(run.started());
  run.Settings(1);
  run.ExpectSuccess(run.box().Run(run.PutTail()));
  EXPECT_TRUE(ReadFile(run.server().root() + "/up.bin") == Bytes('u'));
  run.ExpectSuccess(run.box().Run(run.GetTail("keep.bin")));
  EXPECT_TRUE(ReadFile(run.box().work() + "/keep.bin") == Bytes('k'));
  EXPECT_THAT(run.server().Events("decoy-accept"), IsEmpty());
  EXPECT_EQ(run.server().Events("data-accept").size(), 2u);
}

TEST(WineFaultSurvivedTest, ActiveDataFromAForeignAddressIsRefused) {
  FaultOptions options;
  options.foreign_address = "127.0.0.2";
  WineFaultRun run("active-foreign-source", options);
  ASSERT_TRUE(run.started());
  run.Settings(0);
  run.ExpectSuccess(run.box().Run(run.GetTail("keep.bin")));
  EXPECT_TRUE(ReadFile(run.box().work() + "/keep.bin") == Bytes('k'));
  run.ExpectSuccess(run.box().Run(run.PutTail()));
  EXPECT_TRUE(ReadFile(run.server().root() + "/up.bin") == Bytes('u'));
  std::vector<std::string> sources;
  for (const std::string& e : run.server().Events("data-connect"))
    sources.push_back(e.find("\"source\":\"127.0.0.2\"") != std::string::npos
                          ? "foreign"
                          : "own");
  EXPECT_EQ(sources,
            (std::vector<std::string>{"foreign", "own", "foreign", "own"}));
}

// ---------------------------------------------------------------------------
// Ctrl+C (SIGINT to the wine process) while the run waits on a stalled
// server: the run ends at once through its failure path with status 130.

int WaitFor(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

struct InterruptCase {
  const char* name;
  const char* scenario;
  char mode;
  const char* message;
};

class WineInterruptTest : public ::testing::TestWithParam<InterruptCase> {};

TEST_P(WineInterruptTest, CtrlCEndsTheRunThroughItsFailurePath) {
  const InterruptCase& c = GetParam();
  WineFaultRun run(c.scenario);
  ASSERT_TRUE(run.started());
  run.Settings(1);
  const pid_t pid =
      run.box().Start(c.mode == 'p' ? run.PutTail() : run.GetTail("keep.bin"));
  ASSERT_TRUE(run.server().WaitForEvent("\"fault\"", 20000));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto sent = std::chrono::steady_clock::now();
  kill(pid, SIGINT);
  EXPECT_EQ(WaitFor(pid, std::chrono::seconds(15)), 130);
  EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(5));
  EXPECT_EQ(ReadFile(run.box().path("stderr")), Message(c.message));
  EXPECT_THAT(run.box().Log(), MatchesRegex(kLogFailed));
  run.ExpectLocalFilesKept();  // the temporary file removed
}

INSTANTIATE_TEST_SUITE_P(
    Runs, WineInterruptTest,
    ::testing::Values(
        InterruptCase{"Greeting", "stall-greeting", 'g', "Conect Error "},
        InterruptCase{"Download", "stall-data-mid-transfer", 'g', "Get Error "},
        InterruptCase{"Upload", "stall-after-150", 'p', "Put Error "}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
