// zorvexrun end to end against a server that misbehaves in a named way
// (tests/support/faultftpd.py). Each run must end within its timeouts with
// the right message and exit status, a run log without "End=" after a
// failure, its local files byte for byte as they were, nothing left under
// the name of a download that failed, and no temporary file in the folder.
#include <poll.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/app/run_sandbox.h"
#include "tests/support/fault_server.h"
#include "tests/support/ftp_server.h"
#include "tests/support/raw_control.h"

namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::Not;
using runsandbox::kLogDone;
using runsandbox::kLogFailed;
using runsandbox::Message;
using runsandbox::Outcome;
using runsandbox::Sandbox;
using testsupport::Exists;
using testsupport::FaultOptions;
using testsupport::FaultServer;
using testsupport::ReadFile;
using testsupport::WriteFile;

const char kPassword[] = "pw-fault-7";

// A megabyte that no two files share by chance.
std::string Megabyte(char seed) {
  return testsupport::PseudoRandomBytes(1 << 20, seed);
}

// A fault server and a sandbox with files on both sides:
//   remote /keep.bin, /new.bin   the files to download
//   local  up.bin                the file to upload
//   local  keep.bin              an older copy that a download replaces
class FaultRun {
 public:
  explicit FaultRun(const std::string& scenario, const FaultOptions& options = {})
      : server_(FaultServer::Start(scenario, options)) {
    if (!server_) return;
    WriteFile(server_->root() + "/keep.bin", Megabyte('k'));
    WriteFile(server_->root() + "/new.bin", Megabyte('n'));
    WriteFile(box_.work() + "/up.bin", Megabyte('u'));
    WriteFile(box_.work() + "/keep.bin", "the older local copy");
    names_ = box_.WorkNames();
  }
  bool started() const { return server_ != nullptr; }
  FaultServer& server() { return *server_; }
  const Sandbox& box() const { return box_; }

  void Settings(int passive) const {
    box_.Settings(server_->address() + ":" + std::to_string(server_->port()) +
                  ",user,\"" + kPassword + "\",1," + std::to_string(passive) +
                  ",\r\n");
  }
  Outcome Put(int timeout_s = 60) const {
    return box_.Run("/p " + box_.work() + "/up.bin,/up.bin", timeout_s);
  }
  Outcome Get(const std::string& name, int timeout_s = 60) const {
    return box_.Run("/g /" + name + "," + box_.work() + "/", timeout_s);
  }

  // The checks every failed run must pass.
  void ExpectFailure(const Outcome& out, const std::string& message,
                     int status) const {
    EXPECT_EQ(out.err, Message(message));
    EXPECT_EQ(out.status, status);
    EXPECT_EQ(out.out, "");
    EXPECT_THAT(box_.Log(), MatchesRegex(kLogFailed));
    ExpectLocalFilesKept();
    ExpectNoPassword(out);
  }
  void ExpectSuccess(const Outcome& out) const {
    EXPECT_EQ(out.err, "");
    EXPECT_EQ(out.status, 0);
    EXPECT_THAT(box_.Log(), MatchesRegex(kLogDone));
    ExpectNoPassword(out);
  }
  void ExpectLocalFilesKept() const {
    EXPECT_TRUE(ReadFile(box_.work() + "/up.bin") == Megabyte('u'));
    EXPECT_EQ(ReadFile(box_.work() + "/keep.bin"), "the older local copy");
    // No temporary file, and nothing under the name of a failed download.
    EXPECT_EQ(box_.WorkNames(), names_);
  }
  void ExpectNoPassword(const Outcome& out) const {
    for (const std::string& text : {out.err, out.out, box_.Log()}) {
      EXPECT_THAT(text, Not(HasSubstr(kPassword)));
    }
  }

 private:
  Sandbox box_;
  std::unique_ptr<FaultServer> server_;
  std::set<std::string> names_;
};

// ---------------------------------------------------------------------------
// Faults that end a run in failure.

struct FailureCase {
  const char* name;
  const char* scenario;
  const char* fault_at;  // "" = the scenario's default
  char mode;             // 'p' upload, 'g' download
  int passive;
  const char* message;
  int status;
};

class FaultFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FaultFailureTest, EndsWithItsMessageAndKeepsLocalFiles) {
  const FailureCase& c = GetParam();
  FaultOptions options;
  options.fault_at = c.fault_at;
  FaultRun run(c.scenario, options);
  ASSERT_TRUE(run.started());
  run.Settings(c.passive);
  if (c.mode == 'p') {
    const Outcome out = run.Put(20);
    run.ExpectFailure(out, c.message, c.status);
    EXPECT_LT(out.seconds, 15);
    EXPECT_THAT(run.server().Events("fault"), Not(IsEmpty()));
    return;
  }
  // Onto an existing file, and onto a new name.
  for (const char* name : {"keep.bin", "new.bin"}) {
    SCOPED_TRACE(name);
    const Outcome out = run.Get(name, 20);
    run.ExpectFailure(out, c.message, c.status);
    EXPECT_LT(out.seconds, 15);
  }
  // The failure came from the scenario's fault, not from something else.
  EXPECT_THAT(run.server().Events("fault"), Not(IsEmpty()));
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, FaultFailureTest,
    ::testing::Values(
        FailureCase{"CloseAfterGreeting", "close-after-greeting", "", 'p', 1,
                    "Conect Error ", 5},
        FailureCase{"CloseAfterUser", "close-after-user", "", 'p', 1,
                    "Conect Error ", 5},
        FailureCase{"CloseAfterPass", "close-after-pass", "", 'g', 1,
                    "Conect Error ", 5},
        FailureCase{"CloseMidStor", "close-mid-stor", "", 'p', 1, "Put Error ",
                    6},
        FailureCase{"CloseMidStorActive", "close-mid-stor", "", 'p', 0,
                    "Put Error ", 6},
        FailureCase{"CloseMidRetr", "close-mid-retr", "", 'g', 1, "Get Error ",
                    6},
        FailureCase{"CloseMidRetrActive", "close-mid-retr", "", 'g', 0,
                    "Get Error ", 6},
        FailureCase{"Reply421OnStor", "reply-421-mid-session", "", 'p', 1,
                    "Put Error ", 6},
        FailureCase{"Reply421OnRetr", "reply-421-mid-session", "", 'g', 1,
                    "Get Error ", 6},
        FailureCase{"Reply421OnPass", "reply-421-mid-session", "PASS", 'g', 1,
                    "Conect Error ", 5},
        FailureCase{"Reply421OnType", "reply-421-mid-session", "TYPE", 'g', 1,
                    "Get Error ", 6},
        FailureCase{"ResetDataOnStor", "reset-data-mid-transfer", "", 'p', 1,
                    "Put Error ", 6},
        FailureCase{"ResetDataOnRetr", "reset-data-mid-transfer", "", 'g', 1,
                    "Get Error ", 6},
        FailureCase{"ResetDataOnRetrActive", "reset-data-mid-transfer", "", 'g',
                    0, "Get Error ", 6},
        FailureCase{"ShortRetr", "short-retr", "", 'g', 1, "Get Error ", 6},
        FailureCase{"HugeGreeting", "huge-reply-line", "", 'p', 1,
                    "Conect Error ", 5},
        FailureCase{"HugeReplyToRetr", "huge-reply-line", "RETR", 'g', 1,
                    "Get Error ", 6},
        FailureCase{"NonNumericGreeting", "non-numeric-reply", "", 'p', 1,
                    "Conect Error ", 5},
        FailureCase{"NonNumericReplyToStor", "non-numeric-reply", "STOR", 'p',
                    1, "Put Error ", 6},
        FailureCase{"EndlessMultilineGreeting", "endless-multiline", "", 'g', 1,
                    "Conect Error ", 5},
        FailureCase{"EndlessMultilineToRetr", "endless-multiline", "RETR", 'g',
                    1, "Get Error ", 6}),
    [](const auto& info) { return std::string(info.param.name); });

// A server that accepts and never says a word: the run ends with the connect
// timeout of the client (30 s), not never.
TEST(FaultStallTest, SilentServerEndsInAConnectError) {
  FaultRun run("stall-greeting");
  ASSERT_TRUE(run.started());
  run.Settings(1);
  const Outcome out = run.Put(50);
  run.ExpectFailure(out, "Conect Error ", 5);
  EXPECT_LT(out.seconds, 45);
  EXPECT_THAT(run.server().Commands(), IsEmpty());
}

// ---------------------------------------------------------------------------
// Faults that the run must get past.

TEST(FaultSurvivedTest, PwdAndListingFaultsDoNotTouchATransfer) {
  for (const char* scenario : {"pwd-unbalanced-quotes", "garbage-listing"}) {
    SCOPED_TRACE(scenario);
    FaultRun run(scenario);
    ASSERT_TRUE(run.started());
    run.Settings(1);
    run.ExpectSuccess(run.Put());
    EXPECT_TRUE(ReadFile(run.server().root() + "/up.bin") == Megabyte('u'));
    run.ExpectSuccess(run.Get("keep.bin"));
    EXPECT_TRUE(ReadFile(run.box().work() + "/keep.bin") == Megabyte('k'));
  }
}

// A listening socket of the test on a loopback address; port 0 = any.
class Listener {
 public:
  Listener(const std::string& address, int port)
      : fd_(testsupport::ListenTcp(address, port, &port_)) {}
  ~Listener() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  int port() const { return port_; }
  // True when a connection is waiting to be accepted.
  bool Connected() const {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) == 1;
  }

 private:
  int port_ = 0;  // before fd_: set while fd_ is made
  int fd_ = -1;
};

// The PASV reply names 127.0.0.2, where the test listens: the data connection
// must go to the control connection's peer and nowhere else.
TEST(FaultSurvivedTest, PasvNamingAnotherHostIsNotFollowed) {
  Listener decoy("127.0.0.2", 0);
  ASSERT_TRUE(decoy.ok());
  FaultOptions options;
  options.decoy_address = "127.0.0.2";
  options.decoy_port = decoy.port();
  FaultRun run("pasv-other-host", options);
  ASSERT_TRUE(run.started());
  run.Settings(1);
  run.ExpectSuccess(run.Put());
  EXPECT_TRUE(ReadFile(run.server().root() + "/up.bin") == Megabyte('u'));
  run.ExpectSuccess(run.Get("keep.bin"));
  EXPECT_TRUE(ReadFile(run.box().work() + "/keep.bin") == Megabyte('k'));
  EXPECT_FALSE(decoy.Connected());
  // Both transfers went over PASV to the server's own address.
  EXPECT_EQ(run.server().Events("data-accept").size(), 2u);
  const auto commands = run.server().Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "PASV"), 2);
}

// In active mode a data connection from another address comes first: it is
// refused (its bytes never reach a file) and the server's own is accepted.
TEST(FaultSurvivedTest, ActiveDataFromAForeignAddressIsRefused) {
  FaultOptions options;
  options.foreign_address = "127.0.0.2";
  FaultRun run("active-foreign-source", options);
  ASSERT_TRUE(run.started());
  run.Settings(0);
  run.ExpectSuccess(run.Get("keep.bin"));
  EXPECT_TRUE(ReadFile(run.box().work() + "/keep.bin") == Megabyte('k'));
  run.ExpectSuccess(run.Put());
  EXPECT_TRUE(ReadFile(run.server().root() + "/up.bin") == Megabyte('u'));
  // Each transfer saw the foreign attempt first, then the server's own.
  std::vector<std::string> sources;
  for (const std::string& e : run.server().Events("data-connect")) {
    sources.push_back(e.find("\"source\":\"127.0.0.2\"") != std::string::npos
                          ? "foreign"
                          : "own");
  }
  EXPECT_EQ(sources, (std::vector<std::string>{"foreign", "own", "foreign", "own"}));
}

}  // namespace
