// The built zorvexrun over FTP with TLS, end to end: host fields
// "ftpes://HOST[:PORT]" (explicit) and "ftps://HOST[:PORT]" (implicit, port
// 990), the trust file zorvex.pem beside the settings file, servers that
// require TLS (vsftpd explicit and implicit, pyftpdlib's TLS handler) and
// servers that must be refused. Every run is judged by its message, exit
// status and run log, the files on both sides, and a password that shows
// nowhere.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <ostream>
#include <set>
#include <string>

#include "tests/app/run_sandbox.h"
#include "tests/support/fault_server.h"
#include "tests/support/ftp_server.h"
#include "tests/support/test_certs.h"

namespace {

using ::testing::HasSubstr;
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
using testsupport::FtpServer;
using testsupport::PseudoRandomBytes;
using testsupport::ReadFile;
using testsupport::ServerKind;
using testsupport::ServerOptions;
using testsupport::TestCerts;
using testsupport::TlsLoopback;
using testsupport::TlsMode;
using testsupport::WriteFile;

std::string Text() {
  std::string text;
  for (int i = 0; i < 4000; ++i)
    text += "line " + std::to_string(i) + " of a text sent in ASCII\n";
  return text;
}

// A server with TLS; address and port as given (0: a free port).
std::unique_ptr<FtpServer> StartTls(ServerKind kind, TlsMode mode,
                                    const std::string& chain,
                                    const std::string& address, int port) {
  ServerOptions options;
  options.address = address;
  options.port = port;
  options.tls = mode;
  options.cert_chain = chain;
  options.cert_key = TestCerts::Get()->key;
  return FtpServer::Start(kind, options);
}

// A run's sandbox and the settings for a host field.
class TlsRun {
 public:
  // The settings file: `host` as its host field, the account, and the
  // transfer flags.
  void Settings(const std::string& host, const std::string& user,
                const std::string& password, int binary, int passive) {
    password_ = password;
    box_.Settings("\"" + host + "\"," + user + ",\"" + password + "\"," +
                  std::to_string(binary) + "," + std::to_string(passive) +
                  ",\r\n");
  }
  const Sandbox& box() const { return box_; }
  std::string Work(const std::string& name) const {
    return box_.work() + "/" + name;
  }
  Outcome Put(const std::string& name) const {
    return box_.Run("/p " + Work(name) + "," + name);
  }
  Outcome Get(const std::string& name) const {
    return box_.Run("/g /" + name + "," + box_.work() + "/");
  }

  void ExpectSuccess(const Outcome& out) const {
    EXPECT_EQ(out.err, "");
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(out.out, "");
    EXPECT_THAT(box_.Log(), MatchesRegex(kLogDone));
    ExpectNoPassword(out);
  }
  void ExpectFailure(const Outcome& out, const std::string& message,
                     int status) const {
    EXPECT_EQ(out.err, Message(message));
    EXPECT_EQ(out.status, status);
    EXPECT_EQ(out.out, "");
    EXPECT_THAT(box_.Log(), MatchesRegex(kLogFailed));
    ExpectNoPassword(out);
  }
  void ExpectNoPassword(const Outcome& out) const {
    for (const std::string& text : {out.out, out.err, box_.Log()})
      EXPECT_THAT(text, Not(HasSubstr(password_)));
  }

 private:
  Sandbox box_;
  std::string password_ = "unset";
};

// ---------------------------------------------------------------------------
// Transfers.

struct Served {
  const char* name;
  ServerKind kind;
  TlsMode mode;
};

void PrintTo(const Served& s, std::ostream* os) { *os << s.name; }

class TlsTransferTest : public ::testing::TestWithParam<Served> {
 protected:
  void SetUp() override {
    const TestCerts* certs = TestCerts::Get();
    ASSERT_NE(certs, nullptr);
    const Served& s = GetParam();
    if (s.kind == ServerKind::kPyftpdlib) {
      // By name: the certificate's DNS name is checked, and the port named.
      server_ = StartTls(s.kind, s.mode, certs->server_chain, "127.0.0.1", 0);
      ASSERT_NE(server_, nullptr);
      host_ = "ftpes://localhost:" + std::to_string(server_->port()) + "/";
    } else if (s.mode == TlsMode::kExplicit) {
      server_ = StartTls(s.kind, s.mode, certs->server_chain, TlsLoopback(1),
                         21);
      ASSERT_NE(server_, nullptr);
      host_ = "ftpes://" + TlsLoopback(1);
    } else {
      // Implicit TLS on its default port.
      server_ = StartTls(s.kind, s.mode, certs->server_chain, TlsLoopback(2),
                         990);
      ASSERT_NE(server_, nullptr);
      host_ = "ftps://" + TlsLoopback(2);
    }
    run_.box().Trust(certs->ca);
  }
  void Settings(int binary, int passive) {
    run_.Settings(host_, server_->user(), server_->password(), binary,
                  passive);
  }
  std::string Remote(const std::string& name) const {
    return server_->root() + "/" + name;
  }

  std::unique_ptr<FtpServer> server_;
  std::string host_;
  TlsRun run_;
};

TEST_P(TlsTransferTest, UploadsAndDownloadsInBothTypesAndModes) {
  const std::string up = PseudoRandomBytes((1 << 20) + 1, 'u');
  const std::string down = PseudoRandomBytes(300001, 'd');
  WriteFile(run_.Work("up.bin"), up);
  WriteFile(run_.Work("up.txt"), Text());
  WriteFile(Remote("down.bin"), down);
  WriteFile(Remote("down.txt"), Text());
  for (int passive : {1, 0}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    std::filesystem::remove(Remote("up.bin"));
    std::filesystem::remove(Remote("up.txt"));
    // An older local copy that each download replaces.
    WriteFile(run_.Work("down.bin"), "older");
    WriteFile(run_.Work("down.txt"), "older");

    Settings(1, passive);
    run_.ExpectSuccess(run_.Put("up.bin"));
    EXPECT_TRUE(ReadFile(Remote("up.bin")) == up) << "bytes differ";
    run_.ExpectSuccess(run_.Get("down.bin"));
    EXPECT_TRUE(ReadFile(run_.Work("down.bin")) == down) << "bytes differ";

    // ASCII: CR LF on the wire both ways, LF on both disks.
    Settings(0, passive);
    run_.ExpectSuccess(run_.Put("up.txt"));
    EXPECT_TRUE(ReadFile(Remote("up.txt")) == Text()) << "text differs";
    run_.ExpectSuccess(run_.Get("down.txt"));
    EXPECT_TRUE(ReadFile(run_.Work("down.txt")) == Text()) << "text differs";
  }
  // Nothing but the files themselves: no temporary file left behind.
  EXPECT_EQ(run_.box().WorkNames(),
            (std::set<std::string>{"down.bin", "down.txt", "up.bin",
                                   "up.txt"}));
  EXPECT_THAT(server_->Log(), Not(HasSubstr(server_->password())));
}

INSTANTIATE_TEST_SUITE_P(
    Servers, TlsTransferTest,
    ::testing::Values(
        Served{"VsftpdExplicit", ServerKind::kVsftpd, TlsMode::kExplicit},
        Served{"VsftpdImplicit", ServerKind::kVsftpd, TlsMode::kImplicit},
        Served{"PyftpdlibExplicit", ServerKind::kPyftpdlib,
               TlsMode::kExplicit}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TlsIpv6Test, TransfersOverTheIpv6Loopback) {
  const TestCerts* certs = TestCerts::Get();
  ASSERT_NE(certs, nullptr);
  auto server = StartTls(ServerKind::kPyftpdlib, TlsMode::kExplicit,
                         certs->server_chain, "::1", 0);
  ASSERT_NE(server, nullptr);
  TlsRun run;
  run.box().Trust(certs->ca);
  WriteFile(run.Work("six.bin"), PseudoRandomBytes(100000, '6'));
  for (int passive : {1, 0}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    run.Settings("ftpes://[::1]:" + std::to_string(server->port()),
                 server->user(), server->password(), 1, passive);
    run.ExpectSuccess(run.Put("six.bin"));
    EXPECT_TRUE(ReadFile(server->root() + "/six.bin") ==
                PseudoRandomBytes(100000, '6'));
    std::filesystem::remove(run.Work("six.bin"));
    run.ExpectSuccess(run.Get("six.bin"));
    EXPECT_TRUE(ReadFile(run.Work("six.bin")) ==
                PseudoRandomBytes(100000, '6'));
  }
}

// ---------------------------------------------------------------------------
// Servers that must be refused: a connect error before any login.

struct Refused {
  const char* name;
  ServerKind kind;
  TlsMode mode;                   // kNone: a server without TLS
  std::string TestCerts::*chain;  // what the server presents
  std::string TestCerts::*trust;  // zorvex.pem
  const char* scheme;
  int address;  // TlsLoopback(address), port 21 (990 for implicit TLS); 0:
                // a free port on 127.0.0.1, reached as "localhost"
};

void PrintTo(const Refused& r, std::ostream* os) { *os << r.name; }

class TlsRefusalTest : public ::testing::TestWithParam<Refused> {};

TEST_P(TlsRefusalTest, IsAConnectErrorAndNoLoginReachesTheServer) {
  const Refused& c = GetParam();
  const TestCerts* certs = TestCerts::Get();
  ASSERT_NE(certs, nullptr);
  const std::string address =
      c.address != 0 ? TlsLoopback(c.address) : "127.0.0.1";
  const int port = c.address == 0 ? 0 : c.mode == TlsMode::kImplicit ? 990 : 21;
  std::unique_ptr<FtpServer> server =
      c.mode == TlsMode::kNone
          ? FtpServer::Start(c.kind, ServerOptions{address, port})
          : StartTls(c.kind, c.mode, certs->*c.chain, address, port);
  ASSERT_NE(server, nullptr);
  TlsRun run;
  run.box().Trust(certs->*c.trust);
  const std::string host = (c.address != 0 ? address : "localhost") + ":" +
                           std::to_string(server->port());
  run.Settings(c.scheme + host, server->user(), server->password(), 1, 1);
  WriteFile(run.Work("up.bin"), "local bytes");
  run.ExpectFailure(run.Put("up.bin"), "Conect Error ", 5);
  EXPECT_EQ(ReadFile(run.Work("up.bin")), "local bytes");
  EXPECT_FALSE(Exists(server->root() + "/up.bin"));
  // The client asked for TLS, and never sent its login.
  const std::string log = server->Log();
  if (std::string(c.scheme) == "ftpes://") {
    EXPECT_THAT(log, HasSubstr("AUTH TLS"));
  }
  EXPECT_THAT(log, Not(HasSubstr("USER")));
}

INSTANTIATE_TEST_SUITE_P(
    Servers, TlsRefusalTest,
    ::testing::Values(
        Refused{"UntrustedAuthority", ServerKind::kVsftpd, TlsMode::kExplicit,
                &TestCerts::server_chain, &TestCerts::other_root, "ftpes://",
                3},
        Refused{"Expired", ServerKind::kVsftpd, TlsMode::kImplicit,
                &TestCerts::expired_chain, &TestCerts::ca, "ftps://", 4},
        Refused{"AddressOnlyAsDnsName", ServerKind::kVsftpd,
                TlsMode::kExplicit, &TestCerts::dnsip_chain, &TestCerts::ca,
                "ftpes://", 5},
        Refused{"NameNotInCertificate", ServerKind::kPyftpdlib,
                TlsMode::kExplicit, &TestCerts::other_chain, &TestCerts::ca,
                "ftpes://", 0},
        Refused{"ServerWithoutTls", ServerKind::kPyftpdlib, TlsMode::kNone,
                &TestCerts::server_chain, &TestCerts::ca, "ftpes://", 6},
        // Implicit TLS asked of a server that greets in clear.
        Refused{"ImplicitTlsToAPlainServer", ServerKind::kPyftpdlib,
                TlsMode::kNone, &TestCerts::server_chain, &TestCerts::ca,
                "ftps://", 10}),
    [](const auto& info) { return std::string(info.param.name); });

// A certificate for another name is refused, unless zorvex.pem holds that
// very certificate.
TEST(TlsPinningTest, PinnedCertificateIsTrustedWhateverItsNames) {
  const TestCerts* certs = TestCerts::Get();
  ASSERT_NE(certs, nullptr);
  auto server = StartTls(ServerKind::kVsftpd, TlsMode::kExplicit,
                         certs->other_chain, TlsLoopback(7), 21);
  ASSERT_NE(server, nullptr);
  TlsRun run;
  run.Settings("ftpes://" + TlsLoopback(7), server->user(),
               server->password(), 1, 1);
  WriteFile(run.Work("p.bin"), PseudoRandomBytes(5000, 'p'));
  run.box().Trust(certs->ca);
  run.ExpectFailure(run.Put("p.bin"), "Conect Error ", 5);
  run.box().Trust(certs->other);
  run.ExpectSuccess(run.Put("p.bin"));
  EXPECT_TRUE(ReadFile(server->root() + "/p.bin") ==
              PseudoRandomBytes(5000, 'p'));
  std::filesystem::remove(run.Work("p.bin"));
  run.ExpectSuccess(run.Get("p.bin"));
  EXPECT_TRUE(ReadFile(run.Work("p.bin")) == PseudoRandomBytes(5000, 'p'));
}

// ---------------------------------------------------------------------------
// A data connection that stays plain under PROT P is a failed transfer: no
// file bytes leave in clear, and the safe download keeps the local files.
TEST(TlsPlainDataTest, IsATransferErrorThatKeepsLocalFiles) {
  const TestCerts* certs = TestCerts::Get();
  ASSERT_NE(certs, nullptr);
  FaultOptions options;
  options.address = TlsLoopback(8);
  options.cert_chain = certs->server_chain;
  options.cert_key = certs->key;
  auto server = FaultServer::Start("tls-plain-data", options);
  ASSERT_NE(server, nullptr);
  WriteFile(server->root() + "/keep.bin", PseudoRandomBytes(200000, 'k'));
  WriteFile(server->root() + "/new.bin", PseudoRandomBytes(200000, 'n'));
  TlsRun run;
  run.box().Trust(certs->ca);
  const std::string up = PseudoRandomBytes(200000, 'u');
  WriteFile(run.Work("up.bin"), up);
  WriteFile(run.Work("keep.bin"), "the older local copy");
  const std::set<std::string> names = run.box().WorkNames();
  for (int passive : {1, 0}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    run.Settings("ftpes://" + TlsLoopback(8) + ":" +
                     std::to_string(server->port()),
                 "user", "pw-plain-data-3", 1, passive);
    for (const char* name : {"keep.bin", "new.bin"}) {
      SCOPED_TRACE(name);
      run.ExpectFailure(run.Get(name), "Get Error ", 6);
      EXPECT_EQ(ReadFile(run.Work("keep.bin")), "the older local copy");
      EXPECT_EQ(run.box().WorkNames(), names);
    }
    run.ExpectFailure(run.Put("up.bin"), "Put Error ", 6);
    EXPECT_FALSE(Exists(server->root() + "/up.bin"));
  }
  // What reached the plain data connection of each upload was the client's
  // handshake, never the file.
  const auto clear = server->Events("clear-data");
  ASSERT_EQ(clear.size(), 2u);
  for (const std::string& e : clear) EXPECT_THAT(e, HasSubstr("\"tls_record\":true"));
  // Six runs, each a secured control connection.
  EXPECT_EQ(server->Events("tls").size(), 6u);
}

}  // namespace
