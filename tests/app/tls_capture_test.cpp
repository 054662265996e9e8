// What crosses the network in a run over FTP with TLS: an upload and a
// download by the built zorvexrun against vsftpd (explicit TLS), while
// tcpdump records every packet to and from the server's loopback address.
// Only the part of the session before TLS may be read in the capture (the
// greeting, AUTH TLS and its reply); the login, the password and the files'
// bytes never appear in clear.
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "tests/app/run_sandbox.h"
#include "tests/support/child_process.h"
#include "tests/support/ftp_server.h"
#include "tests/support/test_certs.h"

namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;
using runsandbox::kLogDone;
using runsandbox::Outcome;
using runsandbox::Sandbox;
using testsupport::FtpServer;
using testsupport::ReadFile;
using testsupport::ServerKind;
using testsupport::ServerOptions;
using testsupport::TempDir;
using testsupport::TestCerts;
using testsupport::TlsLoopback;
using testsupport::TlsMode;
using testsupport::WriteFile;

std::string Tcpdump() {
  for (const char* path : {"/usr/bin/tcpdump", "/usr/sbin/tcpdump"})
    if (access(path, X_OK) == 0) return path;
  return std::string();
}

// tcpdump on the loopback interface, writing every packet of `host` to a
// file as it comes (no buffering: --immediate-mode, -U); stopped when the
// object goes.
class Capture {
 public:
  Capture(const std::string& tcpdump, const std::string& host)
      : file_(dir_ / "capture.pcap") {
    const std::string log = dir_ / "tcpdump.log";
    // -Z root: the file goes into a folder only root may write.
    pid_ = testsupport::SpawnChild(
        {tcpdump, "-i", "lo", "-n", "--immediate-mode", "-U", "-s", "0", "-Z",
         "root", "-w", file_, "host", host},
        log, nullptr, 0);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (pid_ > 0 && ReadFile(log).find("listening on") == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline ||
          !testsupport::ChildRunning(pid_)) {
        ADD_FAILURE() << "tcpdump does not capture:\n" << ReadFile(log);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~Capture() { Stop(); }
  // Ends the capture once the file has stopped growing (the last packets
  // written); the packets recorded, as the file holds them.
  std::string Stop() {
    for (size_t size = 0, stable = 0; pid_ > 0 && stable < 5; ++stable) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const size_t now = ReadFile(file_).size();
      if (now != size) stable = 0;
      size = now;
    }
    if (pid_ > 0) testsupport::StopChild(pid_, 5000);
    pid_ = -1;
    return ReadFile(file_);
  }

 private:
  TempDir dir_;
  std::string file_;
  int pid_ = -1;
};

TEST(TlsCaptureTest, LoginPasswordAndFilesNeverCrossInClear) {
  const std::string tcpdump = Tcpdump();
  if (tcpdump.empty()) GTEST_SKIP() << "tcpdump is not installed";
  const TestCerts* certs = TestCerts::Get();
  ASSERT_NE(certs, nullptr);
  ServerOptions options;
  options.address = TlsLoopback(9);
  options.port = 21;
  options.tls = TlsMode::kExplicit;
  options.cert_chain = certs->server_chain;
  options.cert_key = certs->key;
  auto server = FtpServer::Start(ServerKind::kVsftpd, options);
  ASSERT_NE(server, nullptr);

  Sandbox box;
  box.Trust(certs->ca);
  const std::string marker = "payload that must stay private";
  std::string text;
  for (int i = 0; i < 2000; ++i) text += marker + " " + std::to_string(i) + "\n";
  WriteFile(box.work() + "/up.txt", text);
  WriteFile(server->root() + "/down.txt", text);

  Capture capture(tcpdump, TlsLoopback(9));
  Outcome runs[2];
  // An ASCII upload in passive mode, an ASCII download in active mode.
  box.Settings("ftpes://" + TlsLoopback(9) + "," + server->user() + ",\"" +
               server->password() + "\",0,1,\r\n");
  runs[0] = box.Run("/p " + box.work() + "/up.txt,/up.txt");
  box.Settings("ftpes://" + TlsLoopback(9) + "," + server->user() + ",\"" +
               server->password() + "\",0,0,\r\n");
  runs[1] = box.Run("/g /down.txt," + box.work() + "/");
  const std::string packets = capture.Stop();

  for (const Outcome& out : runs) {
    EXPECT_EQ(out.status, 0) << out.err;
    for (const std::string& printed : {out.out, out.err})
      EXPECT_THAT(printed, Not(HasSubstr(server->password())));
  }
  EXPECT_THAT(box.Log(), MatchesRegex(kLogDone));
  EXPECT_THAT(box.Log(), Not(HasSubstr(server->password())));
  EXPECT_EQ(ReadFile(server->root() + "/up.txt"), text);
  EXPECT_EQ(ReadFile(box.work() + "/down.txt"), text);

  // The capture saw both sessions (their clear beginning) ...
  size_t auths = 0;
  for (size_t at = 0; (at = packets.find("AUTH TLS\r\n", at)) != std::string::npos;
       ++at)
    ++auths;
  EXPECT_EQ(auths, 2u);
  EXPECT_THAT(packets, HasSubstr("220 vsftpd test server ready."));
  // ... and nothing of what followed in clear.
  for (const std::string& secret :
       {std::string("USER "), std::string("PASS "), server->user(),
        server->password(), marker, std::string("PBSZ"), std::string("PROT"),
        std::string("226 ")})
    EXPECT_THAT(packets, Not(HasSubstr(secret))) << secret;
}

}  // namespace
