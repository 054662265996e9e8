// Data-connection addresses in replies and commands.
#include "inet/data_address.h"

#include <gtest/gtest.h>

namespace inet {
namespace {

TEST(DataAddressTest, PasvReplyVariants) {
  EXPECT_EQ(ParsePasvPort("227 Entering Passive Mode (127,0,0,1,19,137)."),
            19 * 256 + 137);
  EXPECT_EQ(ParsePasvPort("227 Entering Passive Mode 127,0,0,1,4,1"), 1025);
  EXPECT_EQ(ParsePasvPort("227 =10,1,2,3,255,255"), 65535);
  // The host part is not trusted, only checked for form.
  EXPECT_EQ(ParsePasvPort("227 (8,8,8,8,0,21)"), 21);
  // Numbers before the address do not confuse the search.
  EXPECT_EQ(ParsePasvPort("227 Mode 2 (192,168,0,1,1,2)"), 258);
  // Only the first line counts.
  EXPECT_EQ(ParsePasvPort("227-x\r\n227 (1,2,3,4,0,80)"), std::nullopt);
}

TEST(DataAddressTest, PasvGarbageIsRefused) {
  for (const char* bad :
       {"227 Entering Passive Mode", "227 (127,0,0,1,19)",
        "227 (256,0,0,1,19,137)", "227 (127,0,0,1,19,1370)",
        "227 (127,0,0,1,0,0)", "227 (1,2,3,4,5,-6)", "227 (,,,,,)",
        "227 (1111,0,0,1,1,1)", ""}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(ParsePasvPort(bad), std::nullopt);
  }
}

TEST(DataAddressTest, EpsvReplyVariants) {
  EXPECT_EQ(ParseEpsvPort("229 Entering Extended Passive Mode (|||6446|)"),
            6446);
  EXPECT_EQ(ParseEpsvPort("229 (!!!1!)"), 1);
  EXPECT_EQ(ParseEpsvPort("229 ok (not this) (|||65535|)."), 65535);
  for (const char* bad :
       {"229 Entering Extended Passive Mode", "229 (|||0|)", "229 (|||65536|)",
        "229 (||6446|)", "229 (|!|6446|)", "229 (|||6446)", "229 (|||x|)",
        "229 (111222|)", "229 (|||99999999999999999999|)", "229 (|||"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(ParseEpsvPort(bad), std::nullopt);
  }
}

TEST(DataAddressTest, PortAndEprtArguments) {
  EXPECT_EQ(FormatPortArgument("127.0.0.1", 5001), "127,0,0,1,19,137");
  EXPECT_EQ(FormatPortArgument("10.20.30.40", 65535), "10,20,30,40,255,255");
  EXPECT_EQ(FormatPortArgument("::1", 21), "");
  EXPECT_EQ(FormatEprtArgument(false, "127.0.0.1", 5001), "|1|127.0.0.1|5001|");
  EXPECT_EQ(FormatEprtArgument(true, "::1", 21), "|2|::1|21|");
}

TEST(DataAddressTest, AnnouncedAndReportedSizes) {
  EXPECT_EQ(ParseAnnouncedSize(
                "150 Opening BINARY mode data connection for a.bin (5368709120 bytes)."),
            5368709120ull);
  EXPECT_EQ(ParseAnnouncedSize("150 File status okay."), std::nullopt);
  EXPECT_EQ(ParseAnnouncedSize("150 (x bytes) (12 bytes)"), 12u);
  EXPECT_EQ(ParseAnnouncedSize("150 (99999999999999999999 bytes)"), std::nullopt);
  EXPECT_EQ(ParseSizeReply("213 4294967297"), 4294967297ull);
  EXPECT_EQ(ParseSizeReply("213 12 bytes"), std::nullopt);
  EXPECT_EQ(ParseSizeReply("213 "), std::nullopt);
}

}  // namespace
}  // namespace inet
