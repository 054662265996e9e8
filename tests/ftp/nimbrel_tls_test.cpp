// Nimbrel over FTP with TLS against real servers on loopback, with the
// certificates of tests/support/test_certs.h: vsftpd (TLS required, every
// data connection bound to resume the control connection's session) and
// pyftpdlib's TLS handler, and the TLS faults of tests/support/faultftpd.py.
// Listings and transfers over secured data connections in TLS 1.2 and 1.3;
// the error FTPFrr reports for each server that must be refused, with no
// login ever reaching it; a data stream that ends without close_notify.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "ftp/nimbrel.h"
#include "inet/errors.h"
#include "inet/ftp_client.h"
#include "tests/support/fault_server.h"
#include "tests/support/ftp_server.h"
#include "tests/support/test_certs.h"

namespace zorvex {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;
using testsupport::FaultOptions;
using testsupport::FaultServer;
using testsupport::FtpServer;
using testsupport::PseudoRandomBytes;
using testsupport::ReadFile;
using testsupport::ServerKind;
using testsupport::ServerOptions;
using testsupport::TempDir;
using testsupport::TestCerts;
using testsupport::TlsMode;
using testsupport::WriteFile;

struct Event {
  int32_t number;
  std::string text;
};

constexpr int32_t kAborted = inet::ERROR_INTERNET_CONNECTION_ABORTED;

std::unique_ptr<FtpServer> StartTls(ServerKind kind, TlsMode mode,
                                    const std::string& chain,
                                    bool tls12_only = false) {
  ServerOptions options;
  options.tls = mode;
  options.cert_chain = chain;
  options.cert_key = TestCerts::Get()->key;
  options.tls12_only = tls12_only;
  return FtpServer::Start(kind, options);
}

class NimbrelTlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    certs_ = TestCerts::Get();
    ASSERT_NE(certs_, nullptr);
  }

  // A session with TLS (`security`) to host:port trusting `trust` ("" for
  // the system's store), recording its FTPFrr events.
  std::unique_ptr<Nimbrel> Session(const std::string& host, int port,
                                   FtpSecurity security,
                                   const std::string& trust,
                                   int timeout_ms = 10000) {
    inet::FtpClientOptions options;
    options.connect_timeout_ms = timeout_ms;
    options.io_timeout_ms = timeout_ms;
    options.quit_timeout_ms = 1000;
    auto n = std::make_unique<Nimbrel>(
        std::make_shared<inet::FtpClient>(options));
    n->OnFTPFrr([this](int32_t number, const std::string& text) {
      events_.push_back(Event{number, text});
    });
    n->RemoteHost(host);
    n->RemotePort(port);
    n->User(user_);
    n->Password(password_);
    n->PassiveFlag(true);
    n->Security(security);
    n->TrustFile(trust);
    return n;
  }
  std::unique_ptr<Nimbrel> Session(const FtpServer& server,
                                   FtpSecurity security,
                                   const std::string& trust) {
    user_ = server.user();
    password_ = server.password();
    return Session(server.address(), server.port(), security, trust);
  }

  std::string Events() const {
    std::string out;
    for (const Event& e : events_)
      out += "\n  FTPFrr " + std::to_string(e.number) + ": " + e.text;
    return out;
  }
  // Opening must fail with the one FTPFrr `number`.
  void ExpectOpenFails(Nimbrel& n, int32_t number) {
    events_.clear();
    n.OpenSession();
    EXPECT_EQ(n.hFTP(), 0u);
    ASSERT_EQ(events_.size(), 1u) << Events();
    EXPECT_EQ(events_[0].number, number) << Events();
  }

  const TestCerts* certs_ = nullptr;
  std::vector<Event> events_;
  std::string user_ = "user";
  std::string password_ = "pw";
  TempDir local_;
};

// ---------------------------------------------------------------------------
// Listings and transfers.

std::map<std::string, double> ListAll(Nimbrel& n, const std::string& search) {
  std::map<std::string, double> out;
  n.FindFile(search);
  for (int guard = 0; !n.RemoteFile()->SearchEnd && guard < 100; ++guard) {
    out[n.RemoteFile()->FileName] =
        n.RemoteFile()->FileType == 16 ? -1 : n.RemoteFile()->FileSize;
    n.NextFile();
  }
  return out;
}

// MLSD on pyftpdlib, LIST on vsftpd (which has no MLSD), passive and active,
// each over a data connection that the server only takes in TLS.
TEST_F(NimbrelTlsTest, ListsOverSecuredDataConnections) {
  for (ServerKind kind : {ServerKind::kPyftpdlib, ServerKind::kVsftpd}) {
    SCOPED_TRACE(testsupport::KindName(kind));
    auto server = StartTls(kind, TlsMode::kExplicit, certs_->server_chain);
    ASSERT_NE(server, nullptr);
    std::filesystem::create_directories(server->root() + "/tree/sub");
    WriteFile(server->root() + "/tree/a.txt", "abc");
    WriteFile(server->root() + "/tree/b.bin", std::string(70001, 'b'));
    for (bool passive : {true, false}) {
      SCOPED_TRACE(passive ? "passive" : "active");
      auto n = Session(*server, FtpSecurity::kExplicitTls, certs_->ca);
      n->PassiveFlag(passive);
      n->OpenSession();
      ASSERT_NE(n->hFTP(), 0u) << Events();
      // Twice: the second listing resumes a session the first one left.
      for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(ListAll(*n, "tree"),
                  (std::map<std::string, double>{
                      {"a.txt", 3}, {"b.bin", 70001}, {"sub", -1}}));
      }
      EXPECT_EQ(ListAll(*n, "tree/*.txt"),
                (std::map<std::string, double>{{"a.txt", 3}}));
      n->CloseSession();
      EXPECT_THAT(events_, IsEmpty()) << Events();
    }
    const std::string log = server->Log();
    EXPECT_THAT(log, HasSubstr(kind == ServerKind::kVsftpd ? "LIST" : "MLSD"));
  }
}

// The TLS versions of each handshake that vsftpd logged, and whether each
// resumed a session ("reused") or not.
std::vector<std::string> VsftpdHandshakes(const std::string& log) {
  std::vector<std::string> out;
  static const std::regex kLine("SSL version: (TLSv1\\.[0-9]),.*?, (reused|not reused)");
  for (std::sregex_iterator it(log.begin(), log.end(), kLine), end; it != end;
       ++it)
    out.push_back((*it)[1].str() + " " + (*it)[2].str());
  return out;
}

// vsftpd refuses (522) every data connection that does not resume the
// control connection's TLS session, so that each transfer passing here
// proves the resumption, and its log says so. Seven data connections in one
// session: more than the two tickets a TLS 1.3 server sends after the
// control connection's handshake; an empty file each way among them. TLS
// 1.2 comes from servers limited to it.
class TlsVersionTest : public NimbrelTlsTest,
                       public ::testing::WithParamInterface<const char*> {};

TEST_P(TlsVersionTest, EveryDataConnectionResumesTheControlSession) {
  const std::string version = GetParam();
  struct Served {
    ServerKind kind;
    TlsMode mode;
    FtpSecurity security;
  };
  for (const Served& s :
       {Served{ServerKind::kVsftpd, TlsMode::kExplicit,
               FtpSecurity::kExplicitTls},
        Served{ServerKind::kVsftpd, TlsMode::kImplicit,
               FtpSecurity::kImplicitTls},
        Served{ServerKind::kPyftpdlib, TlsMode::kExplicit,
               FtpSecurity::kExplicitTls}}) {
    SCOPED_TRACE(std::string(testsupport::KindName(s.kind)) +
                 (s.mode == TlsMode::kExplicit ? " explicit" : " implicit"));
    auto server = StartTls(s.kind, s.mode, certs_->server_chain,
                           version == "TLSv1.2");
    ASSERT_NE(server, nullptr);
    const std::string up = PseudoRandomBytes((1 << 20) + 1, 'u');
    WriteFile(local_ / "up.bin", up);
    WriteFile(local_ / "up.txt", "text\nlines\n");
    WriteFile(local_ / "empty", "");
    for (bool passive : {true, false}) {
      SCOPED_TRACE(passive ? "passive" : "active");
      auto n = Session(*server, s.security, certs_->ca);
      n->PassiveFlag(passive);
      n->OpenSession();
      ASSERT_NE(n->hFTP(), 0u) << Events() << server->Log();
      EXPECT_NE(n->PutFile(local_ / "up.bin", "up.bin", 2), 0) << Events();
      EXPECT_NE(n->GetFile("up.bin", local_ / "back.bin", false, 2), 0)
          << Events();
      EXPECT_NE(n->PutFile(local_ / "up.txt", "up.txt", 1), 0) << Events();
      EXPECT_NE(n->GetFile("up.txt", local_ / "back.txt", false, 1), 0)
          << Events();
      EXPECT_EQ(ListAll(*n, "up.*").size(), 2u);
      EXPECT_NE(n->PutFile(local_ / "empty", "empty", 2), 0) << Events();
      EXPECT_NE(n->GetFile("empty", local_ / "back.empty", false, 2), 0)
          << Events();
      n->CloseSession();
      EXPECT_THAT(events_, IsEmpty()) << Events();
      EXPECT_TRUE(ReadFile(server->root() + "/up.bin") == up);
      EXPECT_TRUE(ReadFile(local_ / "back.bin") == up);
      EXPECT_EQ(ReadFile(local_ / "back.txt"), "text\nlines\n");
      EXPECT_TRUE(testsupport::Exists(server->root() + "/empty"));
      EXPECT_EQ(ReadFile(local_ / "back.empty"), "");
      for (const char* name : {"back.bin", "back.txt", "back.empty"})
        std::filesystem::remove(local_ / name);
    }
    if (s.kind != ServerKind::kVsftpd) continue;
    // Per session: the control connection's full handshake, then seven
    // resumed ones, all in the version asked for.
    std::vector<std::string> expected;
    for (int session = 0; session < 2; ++session) {
      expected.push_back(version + " not reused");
      expected.insert(expected.end(), 7, version + " reused");
    }
    const std::string log = server->Log();
    EXPECT_EQ(VsftpdHandshakes(log), expected) << log;
    // Each upload's data connection carried our close_notify before it
    // closed (three uploads a session): without it vsftpd fails the upload.
    size_t notified = 0;
    for (size_t at = 0;
         (at = log.find("state is: SSL_RECEIVED_SHUTDOWN", at)) !=
         std::string::npos;
         ++at)
      ++notified;
    EXPECT_EQ(notified, 6u);
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, TlsVersionTest,
                         ::testing::Values("TLSv1.2", "TLSv1.3"),
                         [](const auto& info) {
                           return std::string(info.param[6] == '2' ? "Tls12"
                                                                   : "Tls13");
                         });

// ---------------------------------------------------------------------------
// Servers that must be refused: FTPFrr says why, and no login reaches them.

struct RefusalCase {
  const char* name;
  std::string TestCerts::*chain;  // what the server presents
  std::string TestCerts::*trust;  // the trust file; nullptr: the system's
  const char* host;               // "" = the server's own address
  int32_t number;                 // the FTPFrr error
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class RefusalTest : public NimbrelTlsTest,
                    public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, OpenFailsBeforeAnyLogin) {
  const RefusalCase& c = GetParam();
  auto server = StartTls(ServerKind::kVsftpd, TlsMode::kExplicit,
                         certs_->*c.chain);
  ASSERT_NE(server, nullptr);
  auto n = Session(*server, FtpSecurity::kExplicitTls,
                   c.trust ? certs_->*c.trust : std::string());
  if (*c.host != '\0') n->RemoteHost(c.host);
  ExpectOpenFails(*n, c.number);
  EXPECT_THAT(server->Log(), HasSubstr("AUTH TLS"));
  EXPECT_THAT(server->Log(), Not(HasSubstr("USER")));
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, RefusalTest,
    ::testing::Values(
        RefusalCase{"UnrelatedRoot", &TestCerts::server_chain,
                    &TestCerts::other_root, "",
                    inet::ERROR_INTERNET_INVALID_CA},
        RefusalCase{"SystemStoreWithoutTrustFile", &TestCerts::server_chain,
                    nullptr, "", inet::ERROR_INTERNET_INVALID_CA},
        RefusalCase{"SelfSignedNotPinned", &TestCerts::selfsigned,
                    &TestCerts::ca, "", inet::ERROR_INTERNET_INVALID_CA},
        RefusalCase{"Expired", &TestCerts::expired_chain, &TestCerts::ca, "",
                    inet::ERROR_INTERNET_SEC_CERT_DATE_INVALID},
        RefusalCase{"AddressNotInCertificate", &TestCerts::other_chain,
                    &TestCerts::ca, "", inet::ERROR_INTERNET_SEC_CERT_CN_INVALID},
        RefusalCase{"AddressOnlyAsDnsName", &TestCerts::dnsip_chain,
                    &TestCerts::ca, "", inet::ERROR_INTERNET_SEC_CERT_CN_INVALID},
        RefusalCase{"NameNotInCertificate", &TestCerts::other_chain,
                    &TestCerts::ca, "localhost",
                    inet::ERROR_INTERNET_SEC_CERT_CN_INVALID}),
    [](const auto& info) { return std::string(info.param.name); });

// What the trust file may hold besides the root: the intermediate that
// issued the server's certificate (an anchor of its own), or the server's
// certificate itself, which is then trusted whatever names it carries, and
// self-signed too; the same certificates are refused above.
TEST_F(NimbrelTlsTest, TrustFileMayHoldTheIssuerOrTheCertificateItself) {
  for (const auto& [chain, trust] :
       {std::pair{certs_->server_chain, certs_->inter},
        std::pair{certs_->other_chain, certs_->other},
        std::pair{certs_->selfsigned, certs_->selfsigned}}) {
    SCOPED_TRACE(trust);
    auto server = StartTls(ServerKind::kVsftpd, TlsMode::kExplicit, chain);
    ASSERT_NE(server, nullptr);
    WriteFile(local_ / "p.txt", "trusted");
    auto n = Session(*server, FtpSecurity::kExplicitTls, trust);
    n->OpenSession();
    ASSERT_NE(n->hFTP(), 0u) << Events();
    EXPECT_NE(n->PutFile(local_ / "p.txt", "p.txt", 2), 0) << Events();
    n->CloseSession();
    EXPECT_EQ(ReadFile(server->root() + "/p.txt"), "trusted");
  }
}

TEST_F(NimbrelTlsTest, UnusableTrustFileFailsBeforeAnyTraffic) {
  auto server = StartTls(ServerKind::kVsftpd, TlsMode::kExplicit,
                         certs_->server_chain);
  ASSERT_NE(server, nullptr);
  WriteFile(local_ / "empty.pem", "no certificate here\n");
  auto n = Session(*server, FtpSecurity::kExplicitTls, local_ / "none.pem");
  ExpectOpenFails(*n, inet::ERROR_FILE_NOT_FOUND);
  n->TrustFile(local_ / "empty.pem");
  ExpectOpenFails(*n, inet::ERROR_INTERNET_SEC_INVALID_CERT);
  EXPECT_THAT(server->Log(), Not(HasSubstr("AUTH")));
}

// A server without TLS refuses AUTH TLS: the reply is what FTPFrr carries
// (the service's 12003), and nothing follows in clear.
TEST_F(NimbrelTlsTest, ServerWithoutTlsRefusesAuthAndHearsNoMore) {
  auto server = FtpServer::Start(ServerKind::kPyftpdlib);
  ASSERT_NE(server, nullptr);
  auto n = Session(*server, FtpSecurity::kExplicitTls, certs_->ca);
  events_.clear();
  n->OpenSession();
  EXPECT_EQ(n->hFTP(), 0u);
  ASSERT_EQ(events_.size(), 1u) << Events();
  EXPECT_GE(events_[0].number, 500) << Events();
  EXPECT_THAT(events_[0].text, StartsWith(std::to_string(events_[0].number)));
  const std::string log = server->Log();
  EXPECT_THAT(log, HasSubstr("AUTH TLS"));
  EXPECT_THAT(log, Not(HasSubstr("USER")));
}

// ---------------------------------------------------------------------------
// The fault server's TLS faults, with short timeouts.

constexpr int kShortMs = 1500;

class TlsFaultTest : public NimbrelTlsTest {
 protected:
  bool Start(const std::string& scenario, FaultOptions options = {}) {
    options.cert_chain = certs_->server_chain;
    options.cert_key = certs_->key;
    server_ = FaultServer::Start(scenario, options);
    if (!server_) return false;
    WriteFile(server_->root() + "/r.bin", PseudoRandomBytes(1 << 20, 'r'));
    WriteFile(server_->root() + "/r.txt", "line\r\nline\r\n");
    WriteFile(local_ / "r.bin", "the older local copy");
    return true;
  }
  std::unique_ptr<Nimbrel> FaultSession(FtpSecurity security,
                                        int timeout_ms = kShortMs) {
    return Session(server_->address(), server_->port(), security, certs_->ca,
                   timeout_ms);
  }
  // Opening fails within the timeout (the handshake's, at most) with
  // `number`, and the server hears nothing after `commands`.
  void ExpectRefused(FtpSecurity security, int32_t number,
                     const std::vector<std::string>& commands) {
    auto n = FaultSession(security);
    const auto start = std::chrono::steady_clock::now();
    ExpectOpenFails(*n, number);
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(kShortMs + 1500));
    n.reset();
    EXPECT_EQ(server_->Commands(), commands);
  }
  // The local folder as it was: the older r.bin, no temporary file.
  void ExpectLocalKept() {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(local_.path()))
      names.insert(e.path().filename().string());
    EXPECT_EQ(names, std::set<std::string>{"r.bin"});
    EXPECT_EQ(ReadFile(local_ / "r.bin"), "the older local copy");
  }

  std::unique_ptr<FaultServer> server_;
};

// Bytes in clear behind the 234 would later pass as protected replies.
TEST_F(TlsFaultTest, ClearBytesBehindTheAuthReplyAreRefused) {
  ASSERT_TRUE(Start("tls-clear-after-234"));
  ExpectRefused(FtpSecurity::kExplicitTls,
                inet::ERROR_INTERNET_SECURITY_CHANNEL_ERROR, {"AUTH"});
  EXPECT_TRUE(server_->Events("tls").empty() ||
              server_->Events("tls")[0].find("\"ok\":false") !=
                  std::string::npos);
}

TEST_F(TlsFaultTest, StalledHandshakeEndsWithTheTimeout) {
  ASSERT_TRUE(Start("tls-stall-after-auth"));
  ExpectRefused(FtpSecurity::kExplicitTls, inet::ERROR_INTERNET_TIMEOUT,
                {"AUTH"});
  // Implicit TLS: the server accepts and never answers the client's hello.
  server_ = FaultServer::Start("stall-greeting");
  ASSERT_NE(server_, nullptr);
  ExpectRefused(FtpSecurity::kImplicitTls, inet::ERROR_INTERNET_TIMEOUT, {});
}

// A secured data stream that ends without close_notify may have been cut:
// complete only when the size the server announced has arrived.
TEST_F(TlsFaultTest, DataWithoutCloseNotifyNeedsTheAnnouncedSize) {
  ASSERT_TRUE(Start("tls-data-without-close-notify"));
  auto n = FaultSession(FtpSecurity::kExplicitTls);
  n->OpenSession();
  ASSERT_NE(n->hFTP(), 0u) << Events();
  EXPECT_NE(n->GetFile("/r.bin", local_ / "r.bin", false, 2), 0) << Events();
  EXPECT_TRUE(ReadFile(local_ / "r.bin") == PseudoRandomBytes(1 << 20, 'r'));
  n->CloseSession();
  EXPECT_EQ(server_->Events("fault").size(), 1u);
  EXPECT_EQ(server_->Events("retr").size(), 1u);

  // The same without a size (ASCII, or a server that names none), and a
  // listing: cut.
  FaultOptions no_size;
  no_size.hide_size = true;
  ASSERT_TRUE(Start("tls-data-without-close-notify", no_size));
  n = FaultSession(FtpSecurity::kExplicitTls);
  n->OpenSession();
  ASSERT_NE(n->hFTP(), 0u) << Events();
  for (int32_t type : {2, 1}) {
    SCOPED_TRACE(type == 1 ? "ASCII" : "binary");
    events_.clear();
    EXPECT_EQ(n->GetFile(type == 1 ? "/r.txt" : "/r.bin", local_ / "r.bin",
                         false, type),
              0);
    ASSERT_EQ(events_.size(), 1u) << Events();
    EXPECT_EQ(events_[0].number, kAborted);
    ExpectLocalKept();
  }
  events_.clear();
  n->FindFile("/");
  EXPECT_TRUE(n->RemoteFile()->SearchEnd);
  ASSERT_EQ(events_.size(), 1u) << Events();
  EXPECT_EQ(events_[0].number, kAborted);
  n->CloseSession();
  // Every data connection was secured, and the server did cut each one.
  EXPECT_EQ(server_->Events("fault").size(), 3u);
  for (const std::string& e : server_->Events("tls"))
    EXPECT_THAT(e, HasSubstr("\"ok\":true"));
}

// The rules of data connections hold inside TLS: a PASV reply that names
// another host is not followed, and in active mode a connection from another
// address is refused before any handshake; the server's own then works.
TEST_F(TlsFaultTest, DataConnectionRulesHoldInsideTls) {
  FaultOptions tls;
  tls.tls = true;
  for (const char* scenario : {"pasv-other-host", "active-foreign-source"}) {
    SCOPED_TRACE(scenario);
    ASSERT_TRUE(Start(scenario, tls));
    const bool passive = std::string(scenario) == "pasv-other-host";
    WriteFile(local_ / "up.bin", PseudoRandomBytes(100000, 'u'));
    // Not short: the foreign connection takes the server a while.
    auto n = FaultSession(FtpSecurity::kExplicitTls, 10000);
    n->PassiveFlag(passive);
    n->OpenSession();
    ASSERT_NE(n->hFTP(), 0u) << Events();
    EXPECT_NE(n->PutFile(local_ / "up.bin", "up.bin", 2), 0) << Events();
    EXPECT_NE(n->GetFile("/r.bin", local_ / "r.bin", false, 2), 0) << Events();
    n->CloseSession();
    EXPECT_THAT(events_, IsEmpty()) << Events();
    EXPECT_TRUE(ReadFile(server_->root() + "/up.bin") ==
                PseudoRandomBytes(100000, 'u'));
    EXPECT_TRUE(ReadFile(local_ / "r.bin") == PseudoRandomBytes(1 << 20, 'r'));
    EXPECT_THAT(server_->Events("fault"), Not(IsEmpty()));
    EXPECT_THAT(server_->Events("decoy-accept"), IsEmpty());
    // The control connection and both data connections, all in TLS.
    const auto handshakes = server_->Events("tls");
    EXPECT_EQ(handshakes.size(), 3u);
    for (const std::string& e : handshakes)
      EXPECT_THAT(e, HasSubstr("\"ok\":true"));
    std::filesystem::remove(local_ / "up.bin");
  }
}

// What bounds a plain session bounds it inside TLS too: a data connection
// whose handshake is never answered, or that stalls mid-file, ends with the
// timeout, a reply that never ends with its bound, and a data connection
// closed mid-file is a cut download.
struct BoundCase {
  const char* name;
  const char* scenario;
  const char* fault_at;
  int32_t number;
};

void PrintTo(const BoundCase& c, std::ostream* os) { *os << c.name; }

class TlsBoundTest : public TlsFaultTest,
                     public ::testing::WithParamInterface<BoundCase> {};

TEST_P(TlsBoundTest, DownloadFailsWithinItsTimeouts) {
  const BoundCase& c = GetParam();
  FaultOptions options;
  options.tls = true;
  options.fault_at = c.fault_at;
  ASSERT_TRUE(Start(c.scenario, options));
  auto n = FaultSession(FtpSecurity::kExplicitTls);
  n->OpenSession();
  ASSERT_NE(n->hFTP(), 0u) << Events();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(n->GetFile("/r.bin", local_ / "r.bin", false, 2), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(2 * kShortMs + 1500));
  ASSERT_EQ(events_.size(), 1u) << Events();
  EXPECT_EQ(events_[0].number, c.number) << Events();
  ExpectLocalKept();
  n.reset();
  // The fault struck inside TLS.
  EXPECT_THAT(server_->Events("fault"), Not(IsEmpty()));
  EXPECT_THAT(server_->Events("tls"), Not(IsEmpty()));
}

INSTANTIATE_TEST_SUITE_P(
    InsideTls, TlsBoundTest,
    ::testing::Values(
        BoundCase{"DataHandshakeNeverAnswered", "stall-after-150", "",
                  inet::ERROR_INTERNET_TIMEOUT},
        BoundCase{"DataStallsMidFile", "stall-data-mid-transfer", "",
                  inet::ERROR_INTERNET_TIMEOUT},
        BoundCase{"EndlessReply", "endless-multiline", "RETR", kAborted},
        BoundCase{"DataClosedMidFile", "close-mid-retr", "", kAborted}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zorvex
