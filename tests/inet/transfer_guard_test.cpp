// Transfers against servers that fail them (tests/support/faultftpd.py):
// uploads checked by their stored size, the control connection kept alive,
// attempts again after failures that may pass (downloads resumed where they
// were cut), and atomic uploads that never leave part of a file under the
// target's name.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "inet/errors.h"
#include "inet/ftp_client.h"
#include "platform/env.h"
#include "platform/posix/socket_stream.h"
#include "tests/support/fault_server.h"
#include "tests/support/ftp_server.h"

namespace inet {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;
using testsupport::FaultOptions;
using testsupport::FaultServer;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

constexpr size_t kSize = 1 << 20;

std::string LastResponse(FtpClient& client) {
  char buf[4096];
  DWORD len = sizeof buf;
  DWORD code = 0;
  if (!client.InternetGetLastResponseInfoA(&code, buf, &len)) return "";
  return std::string(buf, len);
}

std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.insert(e.path().filename().string());
  return names;
}

size_t Count(const std::vector<std::string>& items, const std::string& item) {
  return static_cast<size_t>(std::count(items.begin(), items.end(), item));
}

// A client with short timeouts on a fault server, its trace collected.
class GuardTest : public ::testing::Test {
 protected:
  bool Start(const std::string& scenario, const FaultOptions& options = {}) {
    server_ = FaultServer::Start(scenario, options);
    if (!server_) return false;
    WriteFile(server_->root() + "/r.bin",
              testsupport::PseudoRandomBytes(kSize, 'r'));
    WriteFile(local_ / "up.bin", testsupport::PseudoRandomBytes(kSize, 'u'));
    return true;
  }
  // Connects with `retries` and the other switches as `adjust` leaves them.
  HINTERNET Connect(int retries,
                    const std::function<void(FtpClientOptions&)>& adjust = {}) {
    FtpClientOptions o;
    o.connect_timeout_ms = 3000;
    o.io_timeout_ms = 3000;
    o.quit_timeout_ms = 500;
    o.retries = retries;
    o.trace = [this](std::string_view line) { trace_.emplace_back(line); };
    if (adjust) adjust(o);
    client_ = std::make_unique<FtpClient>(o, env_);
    internet_ = client_->InternetOpenA("t", 0, nullptr, nullptr, 0);
    return client_->InternetConnectA(internet_, server_->address().c_str(),
                                     server_->port(), "user", "pw",
                                     INTERNET_SERVICE_FTP,
                                     INTERNET_FLAG_PASSIVE, 0);
  }
  BOOL Put(HINTERNET h, const std::string& remote = "up.bin",
           DWORD type = FTP_TRANSFER_TYPE_BINARY) {
    return client_->FtpPutFileA(h, (local_ / "up.bin").c_str(), remote.c_str(),
                                type, 0);
  }
  BOOL Get(HINTERNET h, const std::string& remote = "r.bin") {
    return client_->FtpGetFileA(h, remote.c_str(), (local_ / "r.bin").c_str(),
                                0, 0, FTP_TRANSFER_TYPE_BINARY, 0);
  }
  std::string Remote(const std::string& name) {
    return ReadFile(server_->root() + "/" + name);
  }

  platform::Env* env_ = nullptr;
  std::unique_ptr<FaultServer> server_;
  TempDir local_;
  // Before the client: its closing dialogue (QUIT) is still traced.
  std::vector<std::string> trace_;
  std::unique_ptr<FtpClient> client_;
  HINTERNET internet_ = 0;
};

// ---------------------------------------------------------------------------
// Verified uploads.

TEST_F(GuardTest, UploadStoredShortFailsUnlessUncheckedOrText) {
  ASSERT_TRUE(Start("short-stor"));
  HINTERNET h = Connect(0);
  ASSERT_NE(h, 0u);
  EXPECT_FALSE(Put(h));
  EXPECT_EQ(client_->GetLastError(), ERROR_INTERNET_CONNECTION_ABORTED);
  EXPECT_EQ(LastResponse(*client_), "213 " + std::to_string(kSize / 2));
  EXPECT_THAT(trace_, Contains(AllOf(HasSubstr(std::to_string(kSize)),
                                     HasSubstr(std::to_string(kSize / 2)))));
  // One FEAT for the connection, one SIZE for the upload.
  EXPECT_EQ(Count(server_->Commands(), "FEAT"), 1u);
  EXPECT_EQ(Count(server_->Commands(), "SIZE"), 1u);
  // Servers store text in their own line ends: not compared.
  EXPECT_TRUE(Put(h, "up.txt", FTP_TRANSFER_TYPE_ASCII));
  client_->InternetCloseHandle(internet_);

  h = Connect(0, [](FtpClientOptions& o) { o.verify_upload = false; });
  ASSERT_NE(h, 0u);
  EXPECT_TRUE(Put(h));
}

TEST_F(GuardTest, UploadToAServerWithoutSizeIsNotChecked) {
  FaultOptions options;
  options.hide_size = true;
  ASSERT_TRUE(Start("ok", options));
  HINTERNET h = Connect(0);
  ASSERT_NE(h, 0u);
  // FEAT lists SIZE but SIZE is refused: nothing to compare with.
  EXPECT_TRUE(Put(h));
  EXPECT_THAT(LastResponse(*client_), StartsWith("226"));
  EXPECT_EQ(Remote("up.bin").size(), kSize);
}

// ---------------------------------------------------------------------------
// The control connection kept alive.

// Keeps the raw socket of the control connection, the first one made.
class SocketKeeper : public platform::EnvWrapper {
 public:
  SocketKeeper() : EnvWrapper(platform::Env::Default()) {}
  uint32_t Connect(const std::string& host, uint16_t port, int timeout_ms,
                   std::unique_ptr<platform::Stream>* out) override {
    const uint32_t e = target()->Connect(host, port, timeout_ms, out);
    if (e == 0 && fd < 0)
      fd = dynamic_cast<platform::SocketStream&>(**out).fd();
    return e;
  }
  int fd = -1;
};

int SocketOption(int fd, int level, int name) {
  int value = -1;
  socklen_t size = sizeof value;
  if (getsockopt(fd, level, name, &value, &size) != 0) return -1;
  return value;
}

TEST_F(GuardTest, ControlConnectionProbesAfterAMinuteIdleEveryFifteenSeconds) {
  ASSERT_TRUE(Start("ok"));
  SocketKeeper keeper;
  env_ = &keeper;
  ASSERT_NE(Connect(0), 0u);
  ASSERT_GE(keeper.fd, 0);
  EXPECT_EQ(SocketOption(keeper.fd, SOL_SOCKET, SO_KEEPALIVE), 1);
  EXPECT_EQ(SocketOption(keeper.fd, IPPROTO_TCP, TCP_KEEPIDLE), 60);
  EXPECT_EQ(SocketOption(keeper.fd, IPPROTO_TCP, TCP_KEEPINTVL), 15);
  client_.reset();

  SocketKeeper without;
  env_ = &without;
  ASSERT_NE(Connect(0, [](FtpClientOptions& o) { o.keepalive = false; }), 0u);
  EXPECT_EQ(SocketOption(without.fd, SOL_SOCKET, SO_KEEPALIVE), 0);
  client_.reset();
}

TEST_F(GuardTest, SilentControlAfterALongTransferEndsWithTheTimeout) {
  ASSERT_TRUE(Start("slow-retr-silent"));
  // The data takes two seconds, longer than the timeout; the control
  // connection says nothing meanwhile, and nothing after.
  HINTERNET h = Connect(0, [](FtpClientOptions& o) { o.io_timeout_ms = 1000; });
  ASSERT_NE(h, 0u);
  EXPECT_FALSE(Get(h));
  EXPECT_EQ(client_->GetLastError(), ERROR_INTERNET_TIMEOUT);
  EXPECT_THAT(server_->Events("retr"),
              ElementsAre(HasSubstr("\"complete\":true")));
  EXPECT_THAT(Names(local_.path()), ElementsAre("up.bin"));
}

// ---------------------------------------------------------------------------
// Attempts again.

TEST_F(GuardTest, A421OnTheFirstAttemptIsTriedAgainOnANewConnection) {
  ASSERT_TRUE(Start("reply-421-once"));
  HINTERNET h = Connect(2);
  ASSERT_NE(h, 0u);
  EXPECT_TRUE(Put(h)) << client_->GetLastError();
  EXPECT_EQ(Remote("up.bin"), ReadFile(local_ / "up.bin"));
  EXPECT_EQ(Count(server_->Commands(), "STOR"), 2u);
  EXPECT_EQ(server_->Events("connect").size(), 2u);
  EXPECT_THAT(trace_, Contains(StartsWith("attempt 1 of 3: 421 ")));
  EXPECT_THAT(trace_, Contains(HasSubstr("waiting 1 s")));
}

TEST_F(GuardTest, WithoutRetriesA421FailsAtOnce) {
  ASSERT_TRUE(Start("reply-421-once"));
  HINTERNET h = Connect(0);
  ASSERT_NE(h, 0u);
  EXPECT_FALSE(Put(h));
  EXPECT_EQ(Count(server_->Commands(), "STOR"), 1u);
  EXPECT_THAT(LastResponse(*client_), StartsWith("421 "));
}

TEST_F(GuardTest, ACutDownloadResumesFromWhatItKept) {
  ASSERT_TRUE(Start("cut-retr-once"));
  HINTERNET h = Connect(1);
  ASSERT_NE(h, 0u);
  EXPECT_TRUE(Get(h)) << client_->GetLastError();
  EXPECT_EQ(ReadFile(local_ / "r.bin"), Remote("r.bin"));
  const std::string half = std::to_string(kSize / 2);
  EXPECT_THAT(server_->Events("rest"),
              ElementsAre(HasSubstr("\"offset\":" + half)));
  EXPECT_THAT(server_->Events("retr"),
              ElementsAre(HasSubstr("\"bytes\":" + half + ",\"complete\":false"),
                          HasSubstr("\"bytes\":" + half + ",\"complete\":true")));
  // The control connection stayed: one login.
  EXPECT_EQ(server_->Events("connect").size(), 1u);
  EXPECT_THAT(Names(local_.path()), (std::set<std::string>{"r.bin", "up.bin"}));
}

// Without REST the next attempt starts over: what the cut one kept is
// dropped, not followed by the whole file again.
TEST_F(GuardTest, ACutDownloadStartsOverWhereTheServerCannotResume) {
  FaultOptions options;
  options.no_rest = true;
  ASSERT_TRUE(Start("cut-retr-once", options));
  HINTERNET h = Connect(1);
  ASSERT_NE(h, 0u);
  EXPECT_TRUE(Get(h)) << client_->GetLastError();
  EXPECT_TRUE(ReadFile(local_ / "r.bin") == Remote("r.bin"));
  EXPECT_THAT(server_->Events("rest"), IsEmpty());
  EXPECT_EQ(Count(server_->Commands(), "REST"), 0u);
  EXPECT_THAT(server_->Events("retr"),
              ElementsAre(HasSubstr("\"complete\":false"),
                          HasSubstr("\"bytes\":" + std::to_string(kSize) +
                                    ",\"complete\":true")));
}

TEST_F(GuardTest, APermanentRefusalIsNotTriedAgain) {
  ASSERT_TRUE(Start("ok"));
  HINTERNET h = Connect(3);
  ASSERT_NE(h, 0u);
  EXPECT_FALSE(Get(h, "missing.bin"));
  EXPECT_EQ(client_->GetLastError(), ERROR_INTERNET_EXTENDED_ERROR);
  EXPECT_THAT(LastResponse(*client_), StartsWith("550 "));
  EXPECT_EQ(Count(server_->Commands(), "RETR"), 1u);
  EXPECT_THAT(trace_, Not(Contains(StartsWith("attempt"))));
  EXPECT_THAT(Names(local_.path()), ElementsAre("up.bin"));
}

TEST_F(GuardTest, ConnectingIsTriedAgainAndSharesTheCountWithTheTransfer) {
  FaultOptions options;
  options.fault_at = "greeting";
  ASSERT_TRUE(Start("reply-421-once", options));
  HINTERNET h = Connect(1);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(server_->Events("connect").size(), 2u);
  EXPECT_THAT(trace_, Contains(StartsWith("attempt 1 of 2: 421 ")));
  EXPECT_TRUE(Put(h));
}

TEST_F(GuardTest, ARefusedConnectionIsTriedAgainUpToTheCount) {
  ASSERT_TRUE(Start("ok"));
  const int port = server_->port();
  server_.reset();  // nobody listens there any more
  FtpClientOptions o;
  o.retries = 1;
  o.trace = [this](std::string_view line) { trace_.emplace_back(line); };
  FtpClient client(o);
  const HINTERNET internet = client.InternetOpenA("t", 0, nullptr, nullptr, 0);
  EXPECT_EQ(client.InternetConnectA(internet, "127.0.0.1", port, "u", "p",
                                    INTERNET_SERVICE_FTP, 0, 0),
            0u);
  EXPECT_EQ(client.GetLastError(), ERROR_INTERNET_CANNOT_CONNECT);
  EXPECT_THAT(trace_, Contains(StartsWith("attempt 1 of 2: error 12029")));
  EXPECT_THAT(trace_, Not(Contains(StartsWith("attempt 2"))));
}

// Interrupted at the first look: the wait ends at once.
class InterruptedEnv : public platform::EnvWrapper {
 public:
  InterruptedEnv() : EnvWrapper(platform::Env::Default()) {}
  int Interrupted() override { return 2; }  // SIGINT
};

TEST_F(GuardTest, AnInterruptionEndsTheWaitBetweenAttempts) {
  ASSERT_TRUE(Start("reply-421-mid-session"));
  InterruptedEnv interrupted;
  env_ = &interrupted;
  HINTERNET h = Connect(5);
  ASSERT_NE(h, 0u);
  EXPECT_FALSE(Put(h));
  EXPECT_EQ(client_->GetLastError(), ERROR_CANCELLED);
  EXPECT_EQ(Count(server_->Commands(), "STOR"), 1u);
  client_.reset();  // it closes through `interrupted`, which ends here
}

// ---------------------------------------------------------------------------
// Atomic uploads.

void Atomic(FtpClientOptions& o) { o.atomic_upload = true; }

TEST_F(GuardTest, AtomicUploadIsStoredAsideThenRenamedOverTheTarget) {
  ASSERT_TRUE(Start("ok"));
  WriteFile(server_->root() + "/up.bin", "the old content");
  HINTERNET h = Connect(0, Atomic);
  ASSERT_NE(h, 0u);
  EXPECT_TRUE(Put(h));
  EXPECT_EQ(Remote("up.bin"), ReadFile(local_ / "up.bin"));
  EXPECT_EQ(Names(server_->root()), (std::set<std::string>{"r.bin", "up.bin"}));
  const std::vector<std::string> stor = server_->Events("command");
  std::vector<std::string> verbs = server_->Commands();
  verbs.erase(verbs.begin(), std::find(verbs.begin(), verbs.end(), "STOR"));
  EXPECT_THAT(verbs, ElementsAre("STOR", "FEAT", "SIZE", "RNFR", "RNTO"));
  EXPECT_THAT(stor, Contains(HasSubstr("\"arg\":\".up.bin.zvx-")));
}

TEST_F(GuardTest, AtomicUploadCutMidwayLeavesTheTargetAndNoTemporary) {
  ASSERT_TRUE(Start("partial-stor"));
  WriteFile(server_->root() + "/up.bin", "the old content");
  HINTERNET h = Connect(0, Atomic);
  ASSERT_NE(h, 0u);
  EXPECT_FALSE(Put(h));
  EXPECT_THAT(LastResponse(*client_), StartsWith("426 "));
  EXPECT_EQ(Remote("up.bin"), "the old content");
  EXPECT_EQ(Names(server_->root()), (std::set<std::string>{"r.bin", "up.bin"}));
  EXPECT_EQ(Count(server_->Commands(), "DELE"), 1u);
}

TEST_F(GuardTest, AtomicUploadWhoseConnectionIsLostCleansUpOnANewOne) {
  ASSERT_TRUE(Start("close-mid-stor"));
  HINTERNET h = Connect(0, Atomic);
  ASSERT_NE(h, 0u);
  EXPECT_FALSE(Put(h));
  ASSERT_TRUE(server_->WaitForEvent("\"verb\":\"DELE\""));
  EXPECT_THAT(server_->Events("command"),
              Contains(AllOf(HasSubstr("DELE"), HasSubstr(".up.bin.zvx-"))));
  EXPECT_EQ(server_->Events("connect").size(), 2u);
  EXPECT_EQ(Names(server_->root()), (std::set<std::string>{"r.bin"}));
}

TEST_F(GuardTest, AtomicUploadDeletesTheTargetOnlyWhenTheRenameWillNotReplace) {
  ASSERT_TRUE(Start("rnto-no-replace"));
  HINTERNET h = Connect(0, Atomic);
  ASSERT_NE(h, 0u);
  // No target yet: renamed at once.
  EXPECT_TRUE(Put(h));
  EXPECT_EQ(Count(server_->Commands(), "DELE"), 0u);
  // A target to replace: refused, deleted, renamed.
  EXPECT_TRUE(Put(h));
  EXPECT_EQ(Count(server_->Commands(), "DELE"), 1u);
  EXPECT_EQ(Remote("up.bin"), ReadFile(local_ / "up.bin"));
  EXPECT_THAT(trace_, Contains(HasSubstr("deleted first")));
  EXPECT_EQ(Names(server_->root()), (std::set<std::string>{"r.bin", "up.bin"}));
}

}  // namespace
}  // namespace inet
