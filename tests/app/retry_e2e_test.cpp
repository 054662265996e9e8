// --retry and --atomic as a run uses them: the run as a whole is one outcome
// (one log line, "End=" only when the last attempt succeeded), and -v tells
// each attempt; against the fault server and a real server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "tests/app/run_sandbox.h"
#include "tests/support/fault_server.h"
#include "tests/support/ftp_server.h"
#include "tests/support/temp_files.h"

namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;
using runsandbox::kLogDone;
using runsandbox::kLogFailed;
using runsandbox::Message;
using runsandbox::Outcome;
using runsandbox::Sandbox;
using testsupport::FaultServer;
using testsupport::FtpServer;
using testsupport::ReadFile;
using testsupport::ServerKind;
using testsupport::WriteFile;

constexpr size_t kSize = size_t{2} << 20;

TEST(RetryOptionTest, ACutDownloadIsResumedOnlyWhenAskedFor) {
  for (const bool retry : {false, true}) {
    SCOPED_TRACE(retry ? "--retry 2" : "no option");
    auto server = FaultServer::Start("cut-retr-once");
    ASSERT_NE(server, nullptr);
    const std::string bytes = testsupport::PseudoRandomBytes(kSize, 'r');
    WriteFile(server->root() + "/r.bin", bytes);
    Sandbox box;
    box.Settings(server->address() + ":" + std::to_string(server->port()) +
                 ",user,pw,1,1,\r\n");
    WriteFile(box.work() + "/r.bin", "older");
    const std::string tail = "/g /r.bin," + box.work() + "/";
    const Outcome out =
        retry ? box.RunArgs({"-v", "--retry", "2", tail}) : box.Run(tail);
    if (!retry) {
      EXPECT_EQ(out.err, Message("Get Error "));
      EXPECT_EQ(out.status, 6);
      EXPECT_THAT(box.Log(), MatchesRegex(kLogFailed));
      EXPECT_EQ(ReadFile(box.work() + "/r.bin"), "older");
      continue;
    }
    EXPECT_EQ(out.status, 0);
    EXPECT_THAT(out.err, Not(HasSubstr("zorvexrun: ")));
    EXPECT_THAT(out.err, HasSubstr("* attempt 1 of 3: "));
    EXPECT_THAT(out.err, HasSubstr("* resuming at byte " +
                                   std::to_string(kSize / 2)));
    EXPECT_THAT(box.Log(), MatchesRegex(kLogDone));
    EXPECT_TRUE(ReadFile(box.work() + "/r.bin") == bytes);
    EXPECT_EQ(box.WorkNames(), (std::set<std::string>{"r.bin"}));
  }
}

TEST(AtomicOptionTest, AnUploadAppearsUnderItsNameOnlyWhole) {
  auto server = FtpServer::Start(ServerKind::kVsftpd, {"127.0.0.1", 0});
  ASSERT_NE(server, nullptr);
  WriteFile(server->root() + "/up.bin", "the old content");
  Sandbox box;
  box.Settings(server->address() + ":" + std::to_string(server->port()) + "," +
               server->user() + "," + server->password() + ",1,1,\r\n");
  const std::string bytes = testsupport::PseudoRandomBytes(kSize, 'a');
  WriteFile(box.work() + "/up.bin", bytes);
  const Outcome out =
      box.RunArgs({"--atomic", "-v", "/p", box.work() + "/up.bin,/up.bin"});
  EXPECT_EQ(out.status, 0);
  EXPECT_THAT(out.err, MatchesRegex("(.|\n)*> STOR /\\.up\\.bin\\.zvx-[^\n]+\n(.|\n)*"
                                    "> RNTO /up\\.bin\n(.|\n)*"));
  EXPECT_TRUE(ReadFile(server->root() + "/up.bin") == bytes);
  size_t names = 0;
  for (const auto& entry : std::filesystem::directory_iterator(server->root()))
    names += entry.path().filename() == "up.bin" ? 1 : 100;
  EXPECT_EQ(names, 1u) << "a temporary file was left on the server";
  EXPECT_THAT(box.Log(), MatchesRegex(kLogDone));
}

}  // namespace
