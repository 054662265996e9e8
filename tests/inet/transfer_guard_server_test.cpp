// Verified and atomic uploads against the real servers: each answers SIZE
// after a binary upload, and renames over an existing file, so that an
// atomic upload replaces the target without deleting it first.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "inet/errors.h"
#include "inet/ftp_client.h"
#include "tests/support/ftp_server.h"

namespace inet {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using testsupport::FtpServer;
using testsupport::ReadFile;
using testsupport::ServerKind;
using testsupport::TempDir;
using testsupport::WriteFile;

class GuardServerTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  HINTERNET Connect(bool atomic) {
    server_ = FtpServer::Start(GetParam());
    if (!server_) return 0;
    FtpClientOptions o;
    o.atomic_upload = atomic;
    o.trace = [this](std::string_view line) { trace_.emplace_back(line); };
    client_ = std::make_unique<FtpClient>(o);
    const HINTERNET internet =
        client_->InternetOpenA("t", 0, nullptr, nullptr, 0);
    return client_->InternetConnectA(
        internet, server_->address().c_str(), server_->port(),
        server_->user().c_str(), server_->password().c_str(),
        INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
  }
  std::set<std::string> RemoteNames() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(server_->root()))
      names.insert(e.path().filename().string());
    return names;
  }

  std::unique_ptr<FtpServer> server_;
  // Before the client: its closing dialogue (QUIT) is still traced.
  std::vector<std::string> trace_;
  std::unique_ptr<FtpClient> client_;
  TempDir local_;
};

TEST_P(GuardServerTest, BinaryUploadIsCheckedWithSize) {
  const HINTERNET h = Connect(false);
  ASSERT_NE(h, 0u);
  WriteFile(local_ / "a.bin", testsupport::PseudoRandomBytes(300000, 'a'));
  EXPECT_TRUE(client_->FtpPutFileA(h, (local_ / "a.bin").c_str(), "a.bin",
                                   FTP_TRANSFER_TYPE_BINARY, 0));
  EXPECT_EQ(ReadFile(server_->root() + "/a.bin"), ReadFile(local_ / "a.bin"));
  const std::string log = server_->Log();
  const size_t stor = log.find("STOR a.bin");
  ASSERT_NE(stor, std::string::npos) << log;
  EXPECT_NE(log.find("SIZE a.bin", stor), std::string::npos) << log;
}

TEST_P(GuardServerTest, AtomicUploadRenamesOverTheTarget) {
  const HINTERNET h = Connect(true);
  ASSERT_NE(h, 0u);
  WriteFile(server_->root() + "/t.bin", "the old content");
  WriteFile(local_ / "t.bin", testsupport::PseudoRandomBytes(200000, 't'));
  EXPECT_TRUE(client_->FtpPutFileA(h, (local_ / "t.bin").c_str(), "t.bin",
                                   FTP_TRANSFER_TYPE_BINARY, 0))
      << client_->GetLastError();
  EXPECT_EQ(ReadFile(server_->root() + "/t.bin"), ReadFile(local_ / "t.bin"));
  EXPECT_EQ(RemoteNames(), (std::set<std::string>{"t.bin"}));
  // The server replaced the file itself: nothing was deleted first.
  EXPECT_THAT(trace_, Not(Contains(HasSubstr("deleted first"))));
  EXPECT_THAT(server_->Log(), Not(HasSubstr("DELE")));
}

INSTANTIATE_TEST_SUITE_P(BothServers, GuardServerTest,
                         ::testing::Values(ServerKind::kPyftpdlib,
                                           ServerKind::kVsftpd),
                         [](const auto& info) {
                           return std::string(testsupport::KindName(info.param));
                         });

}  // namespace
}  // namespace inet
