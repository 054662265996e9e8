// Numeric host texts as they go into EPRT and PORT, and the host comparison
// that refuses foreign data connections.
#include "platform/address.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

std::string RoundTrip(const std::string& text) {
  const std::optional<Address> a = Address::Parse(text, 21);
  if (!a) return "(none)";
  EXPECT_EQ(a->port, 21);
  return a->Host();
}

TEST(AddressTest, HostTextFollowsRfc5952) {
  EXPECT_EQ(RoundTrip("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(RoundTrip("0.0.0.0"), "0.0.0.0");
  EXPECT_EQ(RoundTrip("255.255.255.255"), "255.255.255.255");
  EXPECT_EQ(RoundTrip("::1"), "::1");
  EXPECT_EQ(RoundTrip("::"), "::");
  EXPECT_EQ(RoundTrip("1::"), "1::");
  EXPECT_EQ(RoundTrip("2001:DB8:0:0:0:0:0:1"), "2001:db8::1");
  // The longest run of zero groups is shortened, the first of equal runs;
  // a single zero group is not.
  EXPECT_EQ(RoundTrip("2001:db8:0:0:1:0:0:0"), "2001:db8:0:0:1::");
  EXPECT_EQ(RoundTrip("2001:0:0:1:0:0:0:1"), "2001:0:0:1::1");
  EXPECT_EQ(RoundTrip("1:0:0:2:0:0:3:4"), "1::2:0:0:3:4");
  EXPECT_EQ(RoundTrip("2001:db8:0:1:1:1:1:1"), "2001:db8:0:1:1:1:1:1");
  EXPECT_EQ(RoundTrip("fe80::0001:00ab"), "fe80::1:ab");
  EXPECT_EQ(RoundTrip("::ffff:192.0.2.7"), "::ffff:192.0.2.7");
  EXPECT_EQ(RoundTrip("::ffff:c000:0207"), "::ffff:192.0.2.7");
  EXPECT_EQ(RoundTrip("64:ff9b::192.0.2.7"), "64:ff9b::c000:207");
}

TEST(AddressTest, ParseRefusesWhatIsNotANumericAddress) {
  for (const char* text :
       {"", "localhost", "1.2.3", "1.2.3.4.5", "256.1.1.1", "01.2.3.4",
        "1.2.3.4 ", " 1.2.3.4", "1..2.3", ":", ":::", "1:2:3:4:5:6:7:8:9",
        "1::2::3", "12345::", "g::1", "1:2:3:4:5:6:7", ":1:2:3:4:5:6:7",
        "1:2:3:4:5:6:7:", "::1.2.3", "::1.2.3.4:5", "[::1]"}) {
    EXPECT_FALSE(Address::Parse(text).has_value()) << text;
  }
  EXPECT_TRUE(Address::Parse("1:2:3:4:5:6:7::").has_value());
  EXPECT_TRUE(Address::Parse("::2:3:4:5:6:7:8").has_value());
  EXPECT_TRUE(Address::Parse("1:2:3:4:5:6:1.2.3.4").has_value());
}

TEST(AddressTest, SameHostTreatsMappedAddressesAsTheirIPv4Address) {
  const Address v4 = *Address::Parse("127.0.0.1", 1);
  EXPECT_TRUE(v4.SameHost(*Address::Parse("::ffff:127.0.0.1", 2)));
  EXPECT_TRUE(Address::Parse("::ffff:127.0.0.1")->SameHost(v4));
  EXPECT_FALSE(v4.SameHost(*Address::Parse("127.0.0.2")));
  EXPECT_FALSE(v4.SameHost(*Address::Parse("::1")));
  EXPECT_FALSE(Address::Parse("::7f00:1")->SameHost(v4));  // not mapped
  EXPECT_TRUE(Address::Parse("::1")->SameHost(*Address::Parse("0::01")));
  EXPECT_FALSE(Address().SameHost(Address()));
}

}  // namespace
}  // namespace platform
