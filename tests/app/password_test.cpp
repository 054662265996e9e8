// The password never shows: whatever fails in a run, neither standard error,
// standard output nor the run log holds it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>

#include "tests/app/run_sandbox.h"
#include "tests/support/ftp_server.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using runsandbox::Message;
using runsandbox::Outcome;
using runsandbox::Sandbox;
using testsupport::FtpServer;
using testsupport::ServerKind;
using testsupport::WriteFile;

// Distinctive, with a comma and a space (so the settings file quotes it) and
// characters that a careless formatting would interpret.
const std::string kSecret = "Zq8'secret,pass word%s%n\\";
std::string QuotedSecret() { return "\"" + kSecret + "\""; }

class PasswordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = FtpServer::Start(ServerKind::kPyftpdlib);
    ASSERT_NE(server_, nullptr);
    WriteFile(box_.work() + "/a.txt", "local");
  }
  std::string Host() const {
    return server_->address() + ":" + std::to_string(server_->port());
  }
  // Runs and checks that no output holds `password`.
  Outcome RunHiding(const std::string& tail, const std::string& password) {
    Outcome out = box_.Run(tail);
    for (const std::string& text : {out.err, out.out, box_.Log()}) {
      EXPECT_THAT(text, Not(HasSubstr(password)));
      // Nor any recognisable part of it.
      EXPECT_THAT(text, Not(HasSubstr("secret")));
    }
    return out;
  }

  std::unique_ptr<FtpServer> server_;
  Sandbox box_;
};

TEST_F(PasswordTest, NoFailureShowsThePassword) {
  const std::string put = "/p " + box_.work() + "/a.txt,/a.txt";
  struct Step {
    const char* what;
    std::string settings;
    std::string tail;
    int status;
  };
  const Step steps[] = {
      {"refused login", Host() + "," + server_->user() + "," + QuotedSecret() +
                            ",1,1,\r\n",
       put, 5},
      {"closed port", "127.0.0.1:1,user," + QuotedSecret() + ",1,1,\r\n", put,
       5},
      {"settings too short", "127.0.0.1:1,user," + QuotedSecret() + ",1",
       put, 1},
      {"non-numeric flag", "127.0.0.1:1,user," + QuotedSecret() + ",yes,1,",
       put, 1},
      {"bad command line", "127.0.0.1:1,user," + QuotedSecret() + ",1,1,",
       "/p,x", 1},
      {"no comma", "127.0.0.1:1,user," + QuotedSecret() + ",1,1,", "/p x", 3},
      {"local file missing", "127.0.0.1:1,user," + QuotedSecret() + ",1,1,",
       "/p none,/a.txt", 4},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    box_.Settings(step.settings);
    const Outcome out = RunHiding(step.tail, kSecret);
    EXPECT_EQ(out.status, step.status) << out.err;
  }
}

TEST_F(PasswordTest, FailedTransfersAndAnUnwritableLogDoNotShowIt) {
  box_.Settings(Host() + "," + server_->user() + ",\"" + server_->password() +
                "\",1,1,\r\n");
  Outcome out = RunHiding(
      "/p " + box_.work() + "/a.txt,/no/such/dir/a.txt", server_->password());
  EXPECT_EQ(out.err, Message("Put Error "));
  out = RunHiding("/g /none.txt," + box_.work() + "/", server_->password());
  EXPECT_EQ(out.err, Message("Get Error "));

  // A run-time error on top of a refused login: the log cannot be written.
  box_.Settings(Host() + "," + server_->user() + "," + QuotedSecret() +
                ",1,1,\r\n");
  std::filesystem::remove(box_.path("zorvexlog.txt"));
  ASSERT_EQ(mkdir(box_.path("zorvexlog.txt").c_str(), 0755), 0);
  out = box_.Run("/p " + box_.work() + "/a.txt,/a.txt");
  EXPECT_EQ(out.status, 5);
  EXPECT_EQ(out.err, Message("Conect Error ") +
                         Message("Path/File access error") +
                         Message("Run-time error '75': Path/File access error"));
  EXPECT_THAT(out.err + out.out, Not(HasSubstr("secret")));
}

}  // namespace
