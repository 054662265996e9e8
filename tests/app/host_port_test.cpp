#include "app/host_port.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace zorvex {
namespace {

void ExpectSplit(const std::string& text, const std::string& host,
                 std::optional<int32_t> port) {
  const HostPort hp = SplitHostPort(text);
  EXPECT_EQ(hp.host, host) << text;
  EXPECT_EQ(hp.port, port) << text;
}

TEST(HostPortTest, NamesAPort) {
  ExpectSplit("ftp.example.org:2121", "ftp.example.org", 2121);
  ExpectSplit("127.0.0.1:21", "127.0.0.1", 21);
  ExpectSplit("[::1]:990", "::1", 990);
  ExpectSplit("host:1", "host", 1);
  ExpectSplit("host:65535", "host", 65535);
  ExpectSplit("host:0021", "host", 21);
}

TEST(HostPortTest, AnythingElseIsTheWholeHost) {
  for (const char* text :
       {"ftp.example.org", "", "::1", "fe80::1:21", "host:0", "host:65536",
        "host:", ":21", "host:21x", "host:-1", "host: 21", "[::1]",
        "[::1]21", "[]:21", "[::1]]:21", "a[b]:21", "host:99999999999"}) {
    ExpectSplit(text, text, std::nullopt);
  }
}

void ExpectScheme(const std::string& text, FtpSecurity security,
                  const std::string& host, std::optional<int32_t> port) {
  const HostPort hp = SplitHostPort(text);
  EXPECT_TRUE(hp.valid) << text;
  EXPECT_EQ(hp.security, security) << text;
  EXPECT_EQ(hp.host, host) << text;
  EXPECT_EQ(hp.port, port) << text;
}

TEST(HostPortTest, SchemesAskForTlsInAnyCase) {
  ExpectScheme("ftpes://ftp.example.org", FtpSecurity::kExplicitTls,
               "ftp.example.org", std::nullopt);
  ExpectScheme("FTPES://127.0.0.1:2121/", FtpSecurity::kExplicitTls,
               "127.0.0.1", 2121);
  ExpectScheme("ftps://[::1]", FtpSecurity::kImplicitTls, "::1", std::nullopt);
  ExpectScheme("Ftps://[fe80::1]:990/", FtpSecurity::kImplicitTls, "fe80::1",
               990);
  ExpectScheme("ftp://files.example.org:21", FtpSecurity::kPlain,
               "files.example.org", 21);
  ExpectScheme("ftp://localhost/", FtpSecurity::kPlain, "localhost",
               std::nullopt);
}

TEST(HostPortTest, AfterASchemeOnlyAHostAndAPortAreValid) {
  for (const char* text :
       {"ftps://", "ftps:///", "ftpes://:21", "ftps://host:", "ftps://host:0",
        "ftps://host:65536", "ftps://host//", "ftps://host/dir",
        "ftps://user@host", "ftps://host:21/x", "ftps://[::1", "ftps://[]",
        "ftps://::1", "ftps://[::1]x", "ftps://[::1]:x", "ftps://ho st",
        "ftpes://host?x", "ftp://a:b:c", "ftps://[::1]]:21"}) {
    EXPECT_FALSE(SplitHostPort(text).valid) << text;
  }
  // Without a scheme nothing is invalid: the text is the host.
  const HostPort bare = SplitHostPort("ftp:/host");
  EXPECT_TRUE(bare.valid);
  EXPECT_EQ(bare.host, "ftp:/host");
  EXPECT_EQ(bare.security, FtpSecurity::kPlain);
}

}  // namespace
}  // namespace zorvex
