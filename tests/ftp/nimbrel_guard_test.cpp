// Nimbrel's switches of the transfer guards: handed to our FTP client when
// OpenSession connects, only those written, and harmless on another service.
#include <gtest/gtest.h>

#include <memory>

#include "ftp/nimbrel.h"
#include "inet/ftp_client.h"
#include "tests/support/recording_service.h"

namespace zorvex {
namespace {

TEST(NimbrelGuardTest, WrittenSwitchesReachTheClientWhenTheSessionOpens) {
  inet::FtpClientOptions options;
  options.io_timeout_ms = 1234;
  options.retries = 7;
  auto client = std::make_shared<inet::FtpClient>(options);
  Nimbrel n(client, [](std::string_view) {});
  // Unwritten: the client's own values.
  EXPECT_TRUE(n.VerifyUpload());
  EXPECT_TRUE(n.KeepAlive());
  EXPECT_EQ(n.Retries(), 7);
  EXPECT_FALSE(n.AtomicUpload());

  n.VerifyUpload(false);
  n.AtomicUpload(true);
  n.Retries(-3);
  EXPECT_EQ(n.Retries(), 0);
  EXPECT_EQ(client->options().retries, 7);  // not before OpenSession
  n.OpenSession();  // no host: fails, after the switches were handed over
  EXPECT_EQ(n.hFTP(), 0);
  const inet::FtpClientOptions now = client->options();
  EXPECT_FALSE(now.verify_upload);
  EXPECT_TRUE(now.keepalive);
  EXPECT_EQ(now.retries, 0);
  EXPECT_TRUE(now.atomic_upload);
  EXPECT_EQ(now.io_timeout_ms, 1234);
}

TEST(NimbrelGuardTest, AnotherServiceIgnoresTheSwitches) {
  auto service = std::make_shared<testsupport::RecordingService>();
  Nimbrel n(service, [](std::string_view) {});
  EXPECT_EQ(n.Retries(), 0);
  n.Retries(2);
  n.KeepAlive(false);
  n.OpenSession();
  EXPECT_EQ(n.Retries(), 2);
  EXPECT_FALSE(n.KeepAlive());
}

}  // namespace
}  // namespace zorvex
