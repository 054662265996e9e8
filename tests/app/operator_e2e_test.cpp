// What an operator asks of a run through the options before the tail: the
// dialogue and a failure's cause (-v), a settings file of their choice (-c)
// with the run log beside it, and a progress line on a terminal
// (--progress); against real servers, with the built zorvexrun.
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/app/run_sandbox.h"
#include "tests/support/ftp_server.h"
#include "tests/support/temp_files.h"

namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;
using ::testing::StartsWith;
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

std::string SettingsFor(const FtpServer& server, const std::string& password) {
  return server.address() + ":" + std::to_string(server.port()) + "," +
         server.user() + "," + password + ",1,1,\r\n";
}

// The last line of a text that ends with a line break.
std::string LastLine(const std::string& text, int from_end = 1) {
  size_t end = text.size();
  size_t start = end;
  for (int i = 0; i < from_end; ++i) {
    end = start == 0 ? 0 : start - 1;
    start = text.rfind('\n', end == 0 ? 0 : end - 1);
    start = start == std::string::npos ? 0 : start + 1;
  }
  return text.substr(start, end - start);
}

class VerboseTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  void SetUp() override {
    server_ = FtpServer::Start(GetParam(), {"127.0.0.1", 0});
    ASSERT_NE(server_, nullptr);
    WriteFile(server_->root() + "/r.bin", testsupport::PseudoRandomBytes(70000, 5));
  }
  std::unique_ptr<FtpServer> server_;
  Sandbox box_;
};

TEST_P(VerboseTest, ShowsTheDialogueButNeverThePassword) {
  box_.Settings(SettingsFor(*server_, server_->password()));
  const Outcome out = box_.RunArgs({"-v", "/g", "/r.bin," + box_.work() + "/"});
  EXPECT_EQ(out.status, 0);
  EXPECT_THAT(out.err, HasSubstr("> USER " + server_->user() + "\n"));
  EXPECT_THAT(out.err, HasSubstr("> PASS ****\n"));
  EXPECT_THAT(out.err, HasSubstr("> RETR /r.bin\n"));
  EXPECT_THAT(out.err, MatchesRegex("(.|\n)*< 226[ -](.|\n)*"));
  EXPECT_THAT(out.err, HasSubstr("* data connection (passive) to 127.0.0.1 port "));
  EXPECT_THAT(out.err, Not(HasSubstr(server_->password())));
  EXPECT_THAT(out.err, Not(HasSubstr("zorvexrun: ")));  // success says nothing
  EXPECT_THAT(box_.Log(), MatchesRegex(kLogDone));
  EXPECT_TRUE(ReadFile(box_.work() + "/r.bin") == ReadFile(server_->root() + "/r.bin"));
}

// Each failure's cause is the dialogue's last line, right before the run's
// message, which stays what it is without -v.
TEST_P(VerboseTest, TheCauseOfAFailureIsItsLastLine) {
  box_.Settings(SettingsFor(*server_, "wrong-" + server_->password()));
  Outcome out = box_.RunArgs({"-v", "/g", "/r.bin," + box_.work() + "/"});
  EXPECT_EQ(out.status, 5);
  EXPECT_THAT(out.err, EndsWith(Message("Conect Error ")));
  EXPECT_THAT(LastLine(out.err, 2), StartsWith("* cause: 530"));
  EXPECT_THAT(out.err, Not(HasSubstr("wrong-" + server_->password())));

  box_.Settings(SettingsFor(*server_, server_->password()));
  out = box_.RunArgs({"--verbose", "/g", "/missing.bin," + box_.work() + "/"});
  EXPECT_EQ(out.status, 6);
  EXPECT_THAT(out.err, EndsWith(Message("Get Error ")));
  EXPECT_THAT(LastLine(out.err, 2), StartsWith("* cause: 550"));
  EXPECT_THAT(box_.Log(), MatchesRegex(kLogFailed));

  // Nobody listening: the system's refusal, named as such.
  box_.Settings("127.0.0.1:1," + server_->user() + ",x,1,1,\r\n");
  out = box_.RunArgs({"-v", "/g", "/r.bin," + box_.work() + "/"});
  EXPECT_EQ(out.status, 5);
  EXPECT_EQ(LastLine(out.err, 2),
            "* cause: Could not connect to the server. (error 12029)");
}

INSTANTIATE_TEST_SUITE_P(Servers, VerboseTest,
                         ::testing::Values(ServerKind::kPyftpdlib,
                                           ServerKind::kVsftpd),
                         [](const auto& info) {
                           return std::string(testsupport::KindName(info.param));
                         });

// -c: one installed program serves many job folders, each with its settings,
// trust file and run log; the executable's folder is not touched.
TEST(SettingsOptionTest, AJobFolderHoldsItsSettingsAndItsLog) {
  auto server = FtpServer::Start(ServerKind::kPyftpdlib, {"127.0.0.1", 0});
  ASSERT_NE(server, nullptr);
  Sandbox box;
  const std::string job = box.work() + "/job one";
  std::filesystem::create_directory(job);
  WriteFile(job + "/nightly", SettingsFor(*server, server->password()));
  WriteFile(box.work() + "/up.txt", "from a job folder");

  Outcome out = box.RunArgs({"-c", job + "/nightly", "/p",
                             box.work() + "/up.txt,/up.txt"});
  EXPECT_EQ(out.err, "");
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(ReadFile(server->root() + "/up.txt"), "from a job folder");
  EXPECT_THAT(ReadFile(job + "/zorvexlog.txt"), MatchesRegex(kLogDone));
  EXPECT_FALSE(Exists(box.path("zorvexlog.txt")));

  // A bare name is looked up in the current folder, where the log then goes.
  WriteFile(box.work() + "/here", SettingsFor(*server, server->password()));
  out = box.RunArgs({"--settings=here", "--", "/g", "/up.txt," + job + "/"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(ReadFile(job + "/up.txt"), "from a job folder");
  EXPECT_THAT(ReadFile(box.work() + "/zorvexlog.txt"), MatchesRegex(kLogDone));

  // A missing settings file is reported under the name given.
  out = box.RunArgs({"-c", job + "/absent", "/g", "/up.txt," + job + "/"});
  EXPECT_EQ(out.err, Message("Not Found " + job + "/absent"));
  EXPECT_EQ(out.status, 2);

  // With -v, a log that cannot be written is named.
  std::filesystem::remove(job + "/zorvexlog.txt");
  ASSERT_EQ(mkdir((job + "/zorvexlog.txt").c_str(), 0755), 0);
  out = box.RunArgs({"-v", "-c", job + "/nightly", "/g", "/up.txt," + job + "/"});
  EXPECT_EQ(out.status, 1);
  EXPECT_THAT(out.err, HasSubstr("* cause: the run log " + job +
                                 "/zorvexlog.txt cannot be written"));
  EXPECT_THAT(out.err, HasSubstr(Message("Path/File access error")));
}

TEST(SettingsOptionTest, BadOptionsStopBeforeTheRun) {
  Sandbox box;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--frobnicate", "/p", "a,b"},
        {"-c"}, {"--retry", "lots", "/p", "a,b"}}) {
    const Outcome out = box.RunArgs(args);
    EXPECT_EQ(out.status, 3) << args[0];
    EXPECT_THAT(out.err, StartsWith("zorvexrun: ")) << args[0];
    EXPECT_THAT(out.err, HasSubstr("--help")) << args[0];
  }
  EXPECT_FALSE(Exists(box.path("zorvexlog.txt")));
}

// Runs zorvexrun on a terminal of its own and returns what it wrote there.
std::string RunOnTerminal(const std::vector<std::string>& argv,
                          const std::string& cwd, int* status) {
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    std::vector<std::string> copy = argv;
    for (std::string& a : copy) args.push_back(a.data());
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  std::string screen;
  char buf[4096];
  for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;)
    screen.append(buf, static_cast<size_t>(n));
  close(master);
  int w = 0;
  waitpid(pid, &w, 0);
  *status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
  return screen;
}

TEST(ProgressOptionTest, DrawnOnATerminalOnlyAndErasedAtTheEnd) {
  auto server = FtpServer::Start(ServerKind::kVsftpd, {"127.0.0.1", 0});
  ASSERT_NE(server, nullptr);
  // Large enough to be moving when the first report is due.
  WriteFile(server->root() + "/big.bin",
            testsupport::PseudoRandomBytes(size_t{64} << 20, 9));
  Sandbox box;
  box.Settings(SettingsFor(*server, server->password()));

  // Standard error to a pipe: nothing at all.
  const Outcome piped =
      box.RunArgs({"--progress", "/g", "/big.bin," + box.work() + "/"});
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.err, "");

  int status = -1;
  const std::string screen = RunOnTerminal(
      {box.exe(), "--progress", "/g", "/big.bin," + box.work() + "/"},
      box.work(), &status);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(ReadFile(box.work() + "/big.bin") ==
              ReadFile(server->root() + "/big.bin"));
  // At least the last report (the whole file), redrawn in place, and the
  // line blanked out at the end so that the prompt comes back clean.
  EXPECT_THAT(screen, HasSubstr("\r  64.0 MiB  100%"));
  EXPECT_THAT(screen, Not(HasSubstr("\n")));
  ASSERT_FALSE(screen.empty());
  EXPECT_EQ(screen.back(), '\r');
  const size_t blank = screen.rfind('\r', screen.size() - 2);
  ASSERT_NE(blank, std::string::npos);
  EXPECT_THAT(screen.substr(blank + 1, screen.size() - blank - 2),
              MatchesRegex(" +"));
}

}  // namespace
