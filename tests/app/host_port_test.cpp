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

}  // namespace
}  // namespace zorvex
