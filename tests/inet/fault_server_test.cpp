// The fault-injecting server itself: it serves files when it should behave,
// strikes where its scenario says, and logs what it saw.
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/support/fault_server.h"
#include "tests/support/ftp_server.h"
#include "tests/support/raw_control.h"

namespace {

using testsupport::FaultOptions;
using testsupport::FaultServer;
using testsupport::RawControl;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;

void LogIn(RawControl& control) {
  ASSERT_EQ(control.Reply().substr(0, 4), "220 ");
  ASSERT_EQ(control.Command("USER someone").substr(0, 3), "331");
  ASSERT_EQ(control.Command("PASS secret-word").substr(0, 3), "230");
}

// The port of a 229 reply "(|||port|)".
int EpsvPort(const std::string& reply) {
  size_t at = reply.find("(|||");
  return at == std::string::npos ? 0 : std::atoi(reply.c_str() + at + 4);
}

TEST(FaultServerTest, OkServesAFileOverPassiveDataAndLogsTheSession) {
  auto server = FaultServer::Start("ok");
  ASSERT_NE(server, nullptr);
  testsupport::WriteFile(server->root() + "/a.bin", std::string("ab\0cd", 5));
  {
    RawControl control(server->address(), server->port());
    ASSERT_TRUE(control.connected());
    LogIn(control);
    EXPECT_EQ(control.Command("TYPE I").substr(0, 3), "200");
    EXPECT_EQ(control.Command("SIZE a.bin"), "213 5");
    int port = EpsvPort(control.Command("EPSV"));
    ASSERT_GT(port, 0);
    int data = testsupport::ConnectTcp(server->address(), port);
    ASSERT_GE(data, 0);
    EXPECT_EQ(control.Command("RETR a.bin").substr(0, 3), "150");
    EXPECT_EQ(testsupport::ReadToEnd(data), std::string("ab\0cd", 5));
    close(data);
    EXPECT_EQ(control.Reply().substr(0, 3), "226");
    EXPECT_EQ(control.Command("QUIT").substr(0, 3), "221");
  }
  ASSERT_TRUE(server->WaitForEvent("\"ev\":\"close\""));
  EXPECT_THAT(server->Commands(),
              ElementsAre("USER", "PASS", "TYPE", "SIZE", "EPSV", "RETR", "QUIT"));
  // The password never reaches the log.
  for (const std::string& line : server->Events()) {
    EXPECT_THAT(line, ::testing::Not(HasSubstr("secret-word")));
  }
  EXPECT_THAT(server->Events("command")[1], HasSubstr("\"arg\":\"***\""));
  EXPECT_THAT(server->Events("data-accept"),
              ElementsAre(HasSubstr("\"peer\":\"127.0.0.1\"")));
  EXPECT_THAT(server->Events("retr"),
              ElementsAre(HasSubstr("\"bytes\":5,\"complete\":true")));
}

TEST(FaultServerTest, CloseAfterUserHangsUpUnanswered) {
  auto server = FaultServer::Start("close-after-user");
  ASSERT_NE(server, nullptr);
  RawControl control(server->address(), server->port());
  EXPECT_EQ(control.Reply().substr(0, 4), "220 ");
  EXPECT_EQ(control.Command("USER someone"), "");
  EXPECT_TRUE(server->WaitForEvent("\"reason\":\"close-after-user\""));
  EXPECT_THAT(server->Events("fault"), SizeIs(1));
}

TEST(FaultServerTest, StallGreetingSaysNothing) {
  auto server = FaultServer::Start("stall-greeting");
  ASSERT_NE(server, nullptr);
  RawControl control(server->address(), server->port());
  ASSERT_TRUE(control.connected());
  EXPECT_EQ(control.Reply(300), "");
  EXPECT_THAT(server->Events("reply"), IsEmpty());
}

TEST(FaultServerTest, PasvOtherHostNamesTheDecoyButServesOnItsOwnAddress) {
  auto server = FaultServer::Start("pasv-other-host");
  ASSERT_NE(server, nullptr);
  RawControl control(server->address(), server->port());
  LogIn(control);
  EXPECT_EQ(control.Command("EPSV").substr(0, 3), "500");
  const std::string reply = control.Command("PASV");
  ASSERT_THAT(reply, HasSubstr("(127,0,0,2,"));
  int h1, h2, h3, h4, p1, p2;
  ASSERT_EQ(sscanf(reply.c_str() + reply.find('(') + 1, "%d,%d,%d,%d,%d,%d",
                   &h1, &h2, &h3, &h4, &p1, &p2),
            6);
  // The decoy on 127.0.0.2 notes whoever falls for it.
  int decoy = testsupport::ConnectTcp("127.0.0.2", p1 * 256 + p2);
  ASSERT_GE(decoy, 0);
  close(decoy);
  EXPECT_TRUE(server->WaitForEvent("\"ev\":\"decoy-accept\""));
  int data = testsupport::ConnectTcp(server->address(), p1 * 256 + p2);
  ASSERT_GE(data, 0);
  EXPECT_EQ(control.Command("NLST").substr(0, 3), "150");
  EXPECT_EQ(testsupport::ReadToEnd(data), "");
  close(data);
  EXPECT_EQ(control.Reply().substr(0, 3), "226");
  EXPECT_THAT(server->Events("data-accept"), SizeIs(1));
}

TEST(FaultServerTest, FaultAtMovesAReplyFaultToTheNamedCommand) {
  FaultOptions options;
  options.fault_at = "PWD";
  auto server = FaultServer::Start("non-numeric-reply", options);
  ASSERT_NE(server, nullptr);
  RawControl control(server->address(), server->port());
  LogIn(control);
  EXPECT_EQ(control.Command("PWD").substr(0, 4), "2x0 ");
  EXPECT_EQ(control.Command("NOOP").substr(0, 3), "200");
}

// Every scenario starts, listens on another loopback address, and is reachable.
class FaultScenarioTest : public ::testing::TestWithParam<const char*> {};

TEST_P(FaultScenarioTest, StartsOnAnotherLoopbackAddress) {
  auto server = FaultServer::Start(GetParam(), "127.0.0.4");
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(server->scenario(), GetParam());
  RawControl control("127.0.0.4", server->port());
  EXPECT_TRUE(control.connected());
  EXPECT_TRUE(server->WaitForEvent("\"ev\":\"connect\""));
}

INSTANTIATE_TEST_SUITE_P(
    All, FaultScenarioTest,
    ::testing::Values("ok", "close-after-greeting", "close-after-user",
                      "close-after-pass", "close-mid-stor", "close-mid-retr",
                      "reply-421-mid-session", "reset-data-mid-transfer",
                      "stall-greeting", "stall-after-150",
                      "stall-data-mid-transfer", "short-retr",
                      "pasv-other-host", "active-foreign-source",
                      "huge-reply-line", "non-numeric-reply",
                      "endless-multiline", "pwd-unbalanced-quotes",
                      "garbage-listing"),
    [](const auto& info) {
      std::string name = info.param;
      for (char& c : name) {
        if (c == '-') c = '_';
      }
      return name;
    });

TEST(FaultServerTest, AnUnknownScenarioFailsToStart) {
  // The failure is reported into the current test; catch it here.
  ::testing::TestPartResultArray failures;
  {
    ::testing::ScopedFakeTestPartResultReporter reporter(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD,
        &failures);
    EXPECT_EQ(FaultServer::Start("no-such-scenario"), nullptr);
  }
  ASSERT_EQ(failures.size(), 1);
  EXPECT_THAT(failures.GetTestPartResult(0).message(),
              HasSubstr("unknown scenario"));
}

}  // namespace
