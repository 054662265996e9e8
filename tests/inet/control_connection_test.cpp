// The control connection on its own, against scripted peers: replies that
// arrive together, what a transfer returns when its pump or the server
// fails, FEAT asked once, and a connection that stays broken.
#include "inet/control_connection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "inet/errors.h"
#include "tests/inet/scripted_server.h"

namespace inet {
namespace {

FtpClientOptions Fast() {
  FtpClientOptions o;
  o.connect_timeout_ms = 1000;
  o.io_timeout_ms = 700;
  o.quit_timeout_ms = 300;
  return o;
}

// Serves one passive data connection: answers EPSV, then the transfer
// command with `first`, sends `data`, closes, and ends with `last`.
void ServeTransfer(scripted::Peer& p, const std::string& first,
                   const std::string& data, const std::string& last) {
  int port = 0;
  const int lfd = scripted::ListenOn("127.0.0.1", &port);
  p.Reply("229 ok (|||" + std::to_string(port) + "|)");
  p.Command();  // the transfer command
  const int dfd = scripted::AcceptOne(lfd);
  close(lfd);
  p.Reply(first);
  scripted::SendAll(dfd, data);
  close(dfd);
  p.Reply(last);
}

class ControlConnectionTest : public testing::Test {
 protected:
  // Opens `conn` to the server and logs in.
  void Open(ControlConnection& conn, const scripted::Server& server) {
    ASSERT_EQ(conn.Open("127.0.0.1", static_cast<uint16_t>(server.port())), 0u);
    ASSERT_EQ(conn.Login("u", "p"), 0u);
  }
  ControlConnection::Pump Returning(DWORD error) {
    return [error](const Reply&, platform::Stream&) { return error; };
  }
};

TEST_F(ControlConnectionTest, RepliesThatArriveTogetherAreReadOneByOne) {
  std::vector<std::string> seen;
  scripted::Server server([&](scripted::Peer& p) {
    p.Login();
    seen.push_back(p.Command());
    // Both replies in one segment; the second belongs to the next command.
    p.Send("200-first\r\n line\r\n200 end\r\n250 second\r\n");
    seen.push_back(p.Command());
    seen.push_back(p.Command());
    p.Reply("200 type set");
    p.ServeQuit();
  });
  ControlConnection conn(platform::Env::Default(), Fast(), true);
  Open(conn, server);
  Reply r;
  EXPECT_EQ(conn.Command("NOOP", &r), 0u);
  EXPECT_EQ(r.text, "200-first\r\n line\r\n200 end");
  EXPECT_EQ(conn.Expect("CWD x", 2, &r), 0u);
  EXPECT_EQ(r.text, "250 second");
  EXPECT_EQ(conn.SetType('I'), 0u);
  EXPECT_EQ(conn.SetType('I'), 0u);  // unchanged: not sent again
  conn.Quit();
  server.Join();
  EXPECT_EQ(seen, (std::vector<std::string>{"NOOP", "CWD x", "TYPE I"}));
}

TEST_F(ControlConnectionTest, TransferResultWeighsThePumpAgainstTheServer) {
  int n = 0;
  scripted::Server server([&](scripted::Peer& p) {
    p.Login();
    for (std::string c = p.Command(); !c.empty(); c = p.Command()) {
      if (c == "QUIT") {
        p.Reply("221 bye");
        break;
      }
      switch (n++) {
        case 0: ServeTransfer(p, "150 go", "abc", "226 done"); break;
        case 1: ServeTransfer(p, "150 go", "abc", "226 done"); break;
        case 2: ServeTransfer(p, "150 go", "abc", "426 cut"); break;
        case 3: ServeTransfer(p, "150 go", "abc", "451 local error"); break;
        default: p.Reply("500 ?");
      }
    }
  });
  ControlConnection conn(platform::Env::Default(), Fast(), true);
  Open(conn, server);
  Reply last;
  std::string got;
  auto read_all = [&](const Reply& preliminary, platform::Stream& data) {
    EXPECT_EQ(preliminary.code, 150);
    char buf[16];
    for (size_t n = 0;;) {
      if (DWORD e = data.Read(buf, sizeof buf, 700, &n)) return e;
      if (n == 0) return DWORD{0};
      got.append(buf, n);
    }
  };
  EXPECT_EQ(conn.Transfer("RETR a", read_all, &last), 0u);
  EXPECT_EQ(got, "abc");
  EXPECT_EQ(last.code, 226);
  // A local failure stays what it is, whatever the server says.
  EXPECT_EQ(conn.Transfer("RETR a", Returning(ERROR_DISK_FULL), &last),
            ERROR_DISK_FULL);
  // A network failure that the server confirms is the server's refusal.
  EXPECT_EQ(conn.Transfer("RETR a", Returning(ERROR_INTERNET_CONNECTION_RESET),
                          &last),
            ERROR_INTERNET_EXTENDED_ERROR);
  EXPECT_EQ(last.code, 426);
  // The pump saw nothing wrong, the server did.
  EXPECT_EQ(conn.Transfer("RETR a", Returning(0), &last),
            ERROR_INTERNET_EXTENDED_ERROR);
  EXPECT_EQ(last.code, 451);
  EXPECT_EQ(conn.broken(), 0u);
  conn.Quit();
}

TEST_F(ControlConnectionTest, FeaturesAreAskedForOnce) {
  int feats = 0;
  scripted::Server server([&](scripted::Peer& p) {
    p.Login();
    for (std::string c = p.Command(); !c.empty(); c = p.Command()) {
      if (c == "FEAT") {
        ++feats;
        p.Send("211-Features:\r\n mlst type*;size*;\r\n EPSV\r\n211 End\r\n");
      } else if (c == "QUIT") {
        p.Reply("221 bye");
        break;
      }
    }
  });
  ControlConnection conn(platform::Env::Default(), Fast(), true);
  Open(conn, server);
  EXPECT_TRUE(conn.HasFeature("MLST"));
  EXPECT_TRUE(conn.HasFeature("EPSV"));
  EXPECT_FALSE(conn.HasFeature("MLSD"));
  EXPECT_FALSE(conn.HasFeature("211-FEATURES:"));
  conn.Quit();
  server.Join();
  EXPECT_EQ(feats, 1);
}

TEST_F(ControlConnectionTest, ATimeoutLeavesItBrokenAndSilent) {
  std::vector<std::string> seen;
  scripted::Server server([&](scripted::Peer& p) {
    p.Login();
    seen.push_back(p.Command());  // never answered
    seen.push_back(p.Command(1500));
  });
  ControlConnection conn(platform::Env::Default(), Fast(), true);
  Open(conn, server);
  Reply r;
  EXPECT_EQ(conn.Command("NOOP", &r), ERROR_INTERNET_TIMEOUT);
  EXPECT_EQ(conn.broken(), ERROR_INTERNET_CONNECTION_ABORTED);
  EXPECT_EQ(conn.Command("PWD", &r), ERROR_INTERNET_CONNECTION_ABORTED);
  EXPECT_EQ(conn.SetType('A'), ERROR_INTERNET_CONNECTION_ABORTED);
  server.Join();
  // The connection was closed: nothing after NOOP reached the server.
  EXPECT_EQ(seen, (std::vector<std::string>{"NOOP", ""}));
}

}  // namespace
}  // namespace inet
