// The real-server harness itself: each kind starts, greets, accepts its own
// account, and on stop frees its port and removes its root.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/ftp_server.h"
#include "tests/support/raw_control.h"

namespace {

using testsupport::FtpServer;
using testsupport::RawControl;
using testsupport::ServerKind;

bool PortAcceptsConnections(const std::string& address, int port) {
  RawControl probe(address, port);
  return probe.connected();
}

// Logs in with the server's own account; the reply that ends the login.
std::string Login(RawControl& control, const FtpServer& server) {
  std::string reply = control.Command("USER " + server.user());
  if (reply.rfind("331", 0) == 0) reply = control.Command("PASS " + server.password());
  return reply;
}

class HarnessTest : public ::testing::TestWithParam<ServerKind> {};

TEST_P(HarnessTest, StartsGreetsLogsInAndCleansUp) {
  std::string root;
  int port = 0;
  {
    auto server = FtpServer::Start(GetParam());
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->kind(), GetParam());
    EXPECT_EQ(server->address(), "127.0.0.1");
    ASSERT_GT(server->port(), 0);
    root = server->root();
    port = server->port();
    ASSERT_TRUE(testsupport::Exists(root));

    RawControl control(server->address(), port);
    ASSERT_TRUE(control.connected());
    EXPECT_EQ(control.Reply().substr(0, 4), "220 ");
    EXPECT_EQ(Login(control, *server).substr(0, 3), "230");
    // The login lands in root(): a folder made through the server is there.
    EXPECT_EQ(control.Command("MKD made-by-server").substr(0, 3), "257");
    EXPECT_TRUE(testsupport::Exists(root + "/made-by-server"));
    // A file the test puts there as root can be removed through the server.
    testsupport::WriteFile(root + "/put-by-test", "x");
    EXPECT_EQ(control.Command("DELE put-by-test").substr(0, 3), "250");
    EXPECT_FALSE(testsupport::Exists(root + "/put-by-test"));
  }
  EXPECT_FALSE(testsupport::Exists(root));
  EXPECT_FALSE(PortAcceptsConnections("127.0.0.1", port));
}

TEST_P(HarnessTest, ServersOfOneKindRunSideBySide) {
  auto first = FtpServer::Start(GetParam());
  auto second = FtpServer::Start(GetParam());
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first->port(), second->port());
  EXPECT_NE(first->root(), second->root());
}

TEST_P(HarnessTest, ListensOnAnotherLoopbackAddress) {
  auto server = FtpServer::Start(GetParam(), {"127.0.0.3", 0});
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(server->address(), "127.0.0.3");
  RawControl control("127.0.0.3", server->port());
  ASSERT_TRUE(control.connected());
  EXPECT_EQ(control.Reply().substr(0, 4), "220 ");
  EXPECT_FALSE(PortAcceptsConnections("127.0.0.1", server->port()));
}

TEST_P(HarnessTest, ListensOnIpv6Loopback) {
  auto server = FtpServer::Start(GetParam(), {"::1", 0});
  ASSERT_NE(server, nullptr);
  RawControl control("::1", server->port());
  ASSERT_TRUE(control.connected());
  EXPECT_EQ(control.Reply().substr(0, 4), "220 ");
  EXPECT_EQ(Login(control, *server).substr(0, 3), "230");
  EXPECT_EQ(control.Command("EPSV").substr(0, 3), "229");
}

TEST_P(HarnessTest, RefusesAWrongPassword) {
  auto server = FtpServer::Start(GetParam());
  ASSERT_NE(server, nullptr);
  RawControl control(server->address(), server->port());
  control.Reply();
  EXPECT_EQ(control.Command("USER " + server->user()).substr(0, 3), "331");
  EXPECT_EQ(control.Command("PASS wrong").substr(0, 3), "530");
  RawControl other(server->address(), server->port());
  other.Reply();
  std::string reply = other.Command("USER nobody-here");
  if (reply.rfind("331", 0) == 0) reply = other.Command("PASS " + server->password());
  EXPECT_EQ(reply.substr(0, 3), "530");
}

INSTANTIATE_TEST_SUITE_P(Kinds, HarnessTest,
                         ::testing::Values(ServerKind::kPyftpdlib,
                                           ServerKind::kVsftpd),
                         [](const auto& info) {
                           return std::string(testsupport::KindName(info.param));
                         });

TEST(TempDirTest, RemovesItsFolderWithContents) {
  std::string path;
  {
    testsupport::TempDir dir;
    path = dir.path();
    testsupport::WriteFile(dir / "a.bin", std::string("\0\r\n\xff", 4));
    EXPECT_EQ(testsupport::ReadFile(dir / "a.bin"), std::string("\0\r\n\xff", 4));
  }
  EXPECT_FALSE(testsupport::Exists(path));
}

}  // namespace
