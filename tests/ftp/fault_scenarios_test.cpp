// Nimbrel over our FTP client against servers that misbehave
// (tests/support/faultftpd.py), with short timeouts: every fault ends in a
// reported failure (FTPFrr and the result) within the timeouts, and leaves
// local files as they were; faults that do not concern an operation do not
// stop it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ftp/nimbrel.h"
#include "inet/errors.h"
#include "inet/ftp_client.h"
#include "tests/support/fault_server.h"
#include "tests/support/ftp_server.h"

namespace zorvex {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;
using testsupport::FaultOptions;
using testsupport::FaultServer;
using testsupport::FtpServer;
using testsupport::ReadFile;
using testsupport::ServerKind;
using testsupport::TempDir;
using testsupport::WriteFile;

constexpr int kTimeoutMs = 1500;

struct Event {
  int32_t number;
  std::string text;
};

// A session over a client with short timeouts, recording its FTPFrr events.
std::unique_ptr<Nimbrel> MakeSession(std::vector<Event>* events) {
  inet::FtpClientOptions options;
  options.connect_timeout_ms = kTimeoutMs;
  options.io_timeout_ms = kTimeoutMs;
  options.quit_timeout_ms = 500;
  auto n = std::make_unique<Nimbrel>(std::make_shared<inet::FtpClient>(options));
  n->OnFTPFrr([events](int32_t number, const std::string& text) {
    events->push_back(Event{number, text});
  });
  return n;
}

// A megabyte that no two files share by chance.
std::string Megabyte(char seed) {
  return testsupport::PseudoRandomBytes(1 << 20, seed);
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
      .count();
}

// A fault server with /r.bin to download, and a local folder with up.bin to
// upload and an older r.bin that a download would replace.
class FaultSessionTest : public ::testing::Test {
 protected:
  bool Start(const std::string& scenario, const FaultOptions& options = {}) {
    server_ = FaultServer::Start(scenario, options);
    if (!server_) return false;
    WriteFile(server_->root() + "/r.bin", Megabyte('r'));
    WriteFile(local_ / "up.bin", Megabyte('u'));
    WriteFile(local_ / "r.bin", "the older local copy");
    session_ = MakeSession(&events_);
    session_->RemoteHost(server_->address());
    session_->RemotePort(server_->port());
    session_->User("user");
    session_->Password("pw");
    session_->PassiveFlag(true);
    return true;
  }

  // Runs `op` and expects it to fail, with one FTPFrr event at least, within
  // the timeouts (two of them at most: a stalled transfer, then the reply).
  void ExpectFails(const std::function<bool()>& op, const char* what) {
    events_.clear();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(op()) << what;
    EXPECT_LT(SecondsSince(start), 2 * kTimeoutMs / 1000.0 + 1.5) << what;
    EXPECT_THAT(events_, Not(IsEmpty())) << what;
  }
  bool Open() {
    session_->OpenSession();
    return session_->hFTP() != 0;
  }
  bool Put() { return session_->PutFile(local_ / "up.bin", "up.bin", 2) != 0; }
  bool Get() {
    return session_->GetFile("/r.bin", local_ / "r.bin", false, 2) != 0;
  }
  // The local folder as it was: no temporary file, the old copy untouched.
  void ExpectLocalKept() {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(local_.path())) {
      names.insert(e.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"r.bin", "up.bin"}));
    EXPECT_TRUE(ReadFile(local_ / "r.bin") == "the older local copy")
        << "the older local copy was replaced";
  }
  int32_t LastNumber() const { return events_.empty() ? 0 : events_.back().number; }

  std::vector<Event> events_;
  std::unique_ptr<FaultServer> server_;
  TempDir local_;
  std::unique_ptr<Nimbrel> session_;
};

// ---------------------------------------------------------------------------
// Faults in the login.

TEST_F(FaultSessionTest, LoginFaultsFailTheOpen) {
  for (const char* scenario :
       {"close-after-greeting", "close-after-user", "close-after-pass",
        "huge-reply-line", "non-numeric-reply", "endless-multiline",
        "stall-greeting"}) {
    SCOPED_TRACE(scenario);
    ASSERT_TRUE(Start(scenario));
    ExpectFails([&] { return Open(); }, scenario);
    EXPECT_EQ(session_->hFTP(), 0);
  }
  // The silent server: the connect timeout, reported as such.
  EXPECT_EQ(LastNumber(), static_cast<int32_t>(inet::ERROR_INTERNET_TIMEOUT));
}

TEST_F(FaultSessionTest, RefusalInTheLoginCarriesTheServersReply) {
  FaultOptions options;
  options.fault_at = "PASS";
  ASSERT_TRUE(Start("reply-421-mid-session", options));
  ExpectFails([&] { return Open(); }, "421 to PASS");
  EXPECT_EQ(LastNumber(), 421);
  EXPECT_THAT(events_.back().text, StartsWith("421"));
}

// ---------------------------------------------------------------------------
// Faults in a transfer.

struct TransferCase {
  const char* name;
  const char* scenario;
  const char* fault_at;
  const char* directions;  // "p" upload, "g" download, or both
  bool passive;
  int32_t number;  // the event's number; 0 = any
};

class FaultTransferTest : public FaultSessionTest,
                          public ::testing::WithParamInterface<TransferCase> {};

TEST_P(FaultTransferTest, UploadAndDownloadFailAndKeepLocalFiles) {
  const TransferCase& c = GetParam();
  FaultOptions options;
  options.fault_at = c.fault_at;
  // One session per direction: the fault may end the connection.
  for (bool upload : {true, false}) {
    if (std::string(c.directions).find(upload ? 'p' : 'g') == std::string::npos)
      continue;
    SCOPED_TRACE(upload ? "upload" : "download");
    ASSERT_TRUE(Start(c.scenario, options));
    session_->PassiveFlag(c.passive);
    ASSERT_TRUE(Open()) << (events_.empty() ? "" : events_.back().text);
    ExpectFails([&] { return upload ? Put() : Get(); }, c.name);
    if (c.number != 0) {
      EXPECT_EQ(LastNumber(), c.number);
    }
    ExpectLocalKept();
    // The session is still usable or fails at once; it never hangs.
    const auto start = std::chrono::steady_clock::now();
    session_->CloseSession();
    EXPECT_LT(SecondsSince(start), kTimeoutMs / 1000.0 + 1.0);
  }
}

constexpr int32_t kTimeout = static_cast<int32_t>(inet::ERROR_INTERNET_TIMEOUT);

INSTANTIATE_TEST_SUITE_P(
    Scenarios, FaultTransferTest,
    ::testing::Values(
        TransferCase{"CloseMidStor", "close-mid-stor", "", "p", true, 0},
        TransferCase{"CloseMidStorActive", "close-mid-stor", "", "p", false, 0},
        TransferCase{"CloseMidRetr", "close-mid-retr", "", "g", true, 0},
        TransferCase{"CloseMidRetrActive", "close-mid-retr", "", "g", false, 0},
        TransferCase{"Reply421", "reply-421-mid-session", "", "pg", true, 421},
        TransferCase{"ResetData", "reset-data-mid-transfer", "", "pg", true, 0},
        TransferCase{"ResetDataActive", "reset-data-mid-transfer", "", "pg",
                     false, 0},
        TransferCase{"StallAfter150", "stall-after-150", "", "pg", true,
                     kTimeout},
        TransferCase{"StallAfter150Active", "stall-after-150", "", "pg", false,
                     kTimeout},
        TransferCase{"StallMidTransfer", "stall-data-mid-transfer", "", "pg",
                     true, kTimeout},
        TransferCase{"HugeReplyToType", "huge-reply-line", "TYPE", "pg", true,
                     0},
        TransferCase{"EndlessMultilineToType", "endless-multiline", "TYPE",
                     "pg", true, 0},
        TransferCase{"NonNumericReplyToType", "non-numeric-reply", "TYPE", "pg",
                     true, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FaultSessionTest, ShortDownloadIsCaughtDespite226) {
  ASSERT_TRUE(Start("short-retr"));
  ASSERT_TRUE(Open());
  ExpectFails([&] { return Get(); }, "short RETR");
  EXPECT_EQ(LastNumber(),
            static_cast<int32_t>(inet::ERROR_INTERNET_CONNECTION_ABORTED));
  ExpectLocalKept();
  // Onto a new name: nothing is left there.
  ExpectFails([&] {
    return session_->GetFile("/r.bin", local_ / "new.bin", true, 2) != 0;
  }, "short RETR, new name");
  ExpectLocalKept();
}

// ---------------------------------------------------------------------------
// Faults the session gets past.

TEST_F(FaultSessionTest, UnbalancedPwdQuotesGiveNoDirectory) {
  ASSERT_TRUE(Start("pwd-unbalanced-quotes"));
  ASSERT_TRUE(Open());
  events_.clear();
  EXPECT_EQ(session_->CurDir(), "");
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].number, 257);
  EXPECT_THAT(events_[0].text, HasSubstr("unbalanced"));
  // The connection goes on.
  EXPECT_TRUE(Get());
  EXPECT_TRUE(ReadFile(local_ / "r.bin") == Megabyte('r'));
}

TEST_F(FaultSessionTest, GarbageListingGivesOnlySaneEntries) {
  for (bool mlsd : {true, false}) {
    SCOPED_TRACE(mlsd ? "MLSD" : "LIST");
    ASSERT_TRUE(Start("garbage-listing"));
    if (!mlsd) {
      inet::FtpClientOptions options;
      options.connect_timeout_ms = options.io_timeout_ms = kTimeoutMs;
      options.use_mlsd = false;
      session_ = std::make_unique<Nimbrel>(std::make_shared<inet::FtpClient>(options));
      session_->RemoteHost(server_->address());
      session_->RemotePort(server_->port());
      session_->PassiveFlag(true);
    }
    ASSERT_TRUE(Open());
    const auto start = std::chrono::steady_clock::now();
    session_->FindFile("*");
    int entries = 0;
    while (!session_->RemoteFile()->SearchEnd && entries < 1000) {
      const auto file = session_->RemoteFile();
      EXPECT_FALSE(file->FileName.empty());
      EXPECT_EQ(file->FileName.find('\0'), std::string::npos);
      EXPECT_EQ(file->FileName.find_first_of("\r\n"), std::string::npos);
      EXPECT_GE(file->FileSize, 0);
      ++entries;
      session_->NextFile();
    }
    EXPECT_LT(entries, 1000);
    EXPECT_LT(SecondsSince(start), 2 * kTimeoutMs / 1000.0);
    // The connection goes on.
    EXPECT_TRUE(Get());
  }
}

TEST_F(FaultSessionTest, PasvNamingAnotherHostIsNotFollowed) {
  // The server runs its own decoy on 127.0.0.2 and logs any connection to it.
  ASSERT_TRUE(Start("pasv-other-host"));
  ASSERT_TRUE(Open());
  EXPECT_TRUE(Put());
  EXPECT_TRUE(Get());
  EXPECT_TRUE(ReadFile(server_->root() + "/up.bin") == Megabyte('u'));
  EXPECT_TRUE(ReadFile(local_ / "r.bin") == Megabyte('r'));
  EXPECT_THAT(server_->Events("decoy-accept"), IsEmpty());
  EXPECT_EQ(server_->Events("data-accept").size(), 2u);
}

TEST_F(FaultSessionTest, ActiveDataFromAForeignAddressIsRefused) {
  ASSERT_TRUE(Start("active-foreign-source"));
  session_->PassiveFlag(false);
  ASSERT_TRUE(Open());
  EXPECT_TRUE(Get());
  EXPECT_TRUE(ReadFile(local_ / "r.bin") == Megabyte('r'));
  EXPECT_TRUE(Put());
  EXPECT_TRUE(ReadFile(server_->root() + "/up.bin") == Megabyte('u'));
  EXPECT_THAT(events_, IsEmpty());
  EXPECT_EQ(server_->Events("data-connect").size(), 4u);
}

// ---------------------------------------------------------------------------
// Passwords.

TEST(NimbrelPasswordTest, RefusedLoginDoesNotShowThePassword) {
  auto server = FtpServer::Start(ServerKind::kPyftpdlib);
  ASSERT_NE(server, nullptr);
  const std::string secret = "Zq8-secret-pass word";
  std::vector<Event> events;
  {
    auto n = MakeSession(&events);
    n->RemoteHost(server->address());
    n->RemotePort(server->port());
    n->User(server->user());
    n->Password(secret);
    n->OpenSession();
    EXPECT_EQ(n->hFTP(), 0);
    // Nor as the user name, nor after the closed port.
    n->User(secret);
    n->OpenSession();
    EXPECT_EQ(n->hFTP(), 0);
    n->RemotePort(1);
    n->OpenSession();
    EXPECT_EQ(n->hFTP(), 0);
  }
  ASSERT_GE(events.size(), 3u);
  // The refusal carries the server's own reply.
  EXPECT_EQ(events[0].number, 530);
  for (const Event& e : events) {
    EXPECT_THAT(e.text, Not(HasSubstr("secret"))) << e.number;
  }
}

}  // namespace
}  // namespace zorvex
