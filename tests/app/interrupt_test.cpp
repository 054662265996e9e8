// zorvexrun interrupted by its user (SIGINT, as Ctrl+C sends it, SIGTERM or
// SIGHUP) while it waits on a server that stalls: it ends at once through
// its ordinary failure path, with exit status 128 + the signal's number, the
// run log without "End=", a download's temporary file removed, the older
// local file as it was, and a QUIT said to a server that still listens.
// Killed outright, a download leaves no temporary file either.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/run_sandbox.h"
#include "tests/support/fault_server.h"

namespace {

using ::testing::MatchesRegex;
using runsandbox::kLogFailed;
using runsandbox::Message;
using runsandbox::Sandbox;
using testsupport::FaultServer;
using testsupport::ReadFile;
using testsupport::WriteFile;

struct InterruptCase {
  const char* name;
  const char* scenario;
  char mode;  // 'p' upload, 'g' download
  int signal;
  const char* message;
};

// Starts zorvexrun with `tail` and its output in files beside it; returns
// its pid.
pid_t Start(const Sandbox& box, const std::string& tail) {
  const pid_t pid = fork();
  if (pid == 0) {
    const std::string out = box.path("stdout"), err = box.path("stderr");
    if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr) ||
        chdir(box.work().c_str()) != 0)
      _exit(126);
    setenv("LC_ALL", "C.UTF-8", 1);
    execl(box.exe().c_str(), box.exe().c_str(), tail.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// The exit status, or -1 when it did not end within `timeout`.
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

class InterruptTest : public ::testing::TestWithParam<InterruptCase> {};

TEST_P(InterruptTest, EndsAtOnceThroughItsFailurePath) {
  const InterruptCase& c = GetParam();
  std::unique_ptr<FaultServer> server = FaultServer::Start(c.scenario);
  ASSERT_NE(server, nullptr);
  Sandbox box;
  const std::string remote(1 << 20, 'r');
  WriteFile(server->root() + "/file.bin", remote);
  WriteFile(box.work() + "/file.bin", "the older local copy");
  const std::set<std::string> names = box.WorkNames();
  box.Settings(server->address() + ":" + std::to_string(server->port()) +
               ",user,pw-interrupt-3,1,1,\r\n");

  const std::string tail = c.mode == 'p'
                               ? "/p " + box.work() + "/file.bin,/up.bin"
                               : "/g /file.bin," + box.work() + "/";
  const pid_t pid = Start(box, tail);
  // The signal comes while the run waits on the stalled server.
  ASSERT_TRUE(server->WaitForEvent("\"fault\"", 10000));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto sent = std::chrono::steady_clock::now();
  kill(pid, c.signal);
  EXPECT_EQ(WaitFor(pid, std::chrono::seconds(10)), 128 + c.signal);
  EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(3));

  EXPECT_EQ(ReadFile(box.path("stderr")), Message(c.message));
  EXPECT_THAT(box.Log(), MatchesRegex(kLogFailed));
  EXPECT_EQ(ReadFile(box.work() + "/file.bin"), "the older local copy");
  EXPECT_EQ(box.WorkNames(), names);  // no temporary file left
  if (std::string(c.scenario) == "stall-retr-hear-control") {
    EXPECT_TRUE(server->WaitForEvent("\"verb\":\"QUIT\"", 2000));
  }
}

// SIGKILL gives the run no chance to clean up: the download's bytes were
// received into a file without a name, which the system drops.
TEST(InterruptKillTest, AKilledDownloadLeavesNoFile) {
  std::unique_ptr<FaultServer> server =
      FaultServer::Start("stall-data-mid-transfer");
  ASSERT_NE(server, nullptr);
  Sandbox box;
  WriteFile(server->root() + "/file.bin", std::string(1 << 20, 'r'));
  WriteFile(box.work() + "/file.bin", "the older local copy");
  const std::set<std::string> names = box.WorkNames();
  box.Settings(server->address() + ":" + std::to_string(server->port()) +
               ",user,pw-interrupt-9,1,1,\r\n");
  const pid_t pid = Start(box, "/g /file.bin," + box.work() + "/");
  ASSERT_TRUE(server->WaitForEvent("\"fault\"", 10000));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  kill(pid, SIGKILL);
  EXPECT_EQ(WaitFor(pid, std::chrono::seconds(10)), -2);
  EXPECT_EQ(ReadFile(box.work() + "/file.bin"), "the older local copy");
  EXPECT_EQ(box.WorkNames(), names);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, InterruptTest,
    ::testing::Values(
        InterruptCase{"GreetingSigint", "stall-greeting", 'g', SIGINT,
                      "Conect Error "},
        InterruptCase{"DownloadSigint", "stall-data-mid-transfer", 'g', SIGINT,
                      "Get Error "},
        InterruptCase{"DownloadSigterm", "stall-data-mid-transfer", 'g',
                      SIGTERM, "Get Error "},
        InterruptCase{"DownloadSigtermSaysQuit", "stall-retr-hear-control",
                      'g', SIGTERM, "Get Error "},
        InterruptCase{"UploadSighup", "stall-after-150", 'p', SIGHUP,
                      "Put Error "}),
    [](const ::testing::TestParamInfo<InterruptCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace
