// Feeds arbitrary bytes as 227, 229, 150 and 213 replies to the data-address
// and size parsers, and checks that what they accept is sane; then checks that
// the PORT argument and an EPSV reply built from a fuzzed address and port
// read back as that port, and that a fuzzed reply text around them does not
// change the result.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "inet/data_address.h"

namespace {

bool HasDigit(std::string_view s) {
  return s.find_first_of("0123456789") != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const auto a = provider.ConsumeIntegral<uint32_t>();
  const auto port = provider.ConsumeIntegral<uint16_t>();
  const auto delimiter = provider.ConsumeIntegralInRange<char>(33, 126);
  const std::string prefix = provider.ConsumeRandomLengthString(64);
  const std::string reply = provider.ConsumeRemainingBytesAsString();

  // Arbitrary replies: no crash, and a port is never 0.
  if (auto p = inet::ParsePasvPort(reply)) Check(*p != 0 && HasDigit(reply));
  if (auto p = inet::ParseEpsvPort(reply)) Check(*p != 0 && HasDigit(reply));
  if (auto n = inet::ParseAnnouncedSize(reply)) {
    Check(reply.find(" bytes)") != std::string::npos);
    (void)*n;
  }
  if (auto n = inet::ParseSizeReply(reply)) Check(HasDigit(reply));
  // Only the first line of a reply counts: what follows a line end is never
  // read.
  const std::string first = "200 x\r\n";
  Check(!inet::ParsePasvPort(first + reply));
  Check(!inet::ParseEpsvPort(first + reply));
  Check(!inet::ParseAnnouncedSize(first + reply));

  // Round trips: PORT argument -> 227 reply, and a 229 reply.
  const std::string ipv4 = std::to_string(a >> 24) + "." +
                           std::to_string((a >> 16) & 0xFF) + "." +
                           std::to_string((a >> 8) & 0xFF) + "." +
                           std::to_string(a & 0xFF);
  const std::string argument = inet::FormatPortArgument(ipv4, port);
  Check(!argument.empty());
  const bool clean_prefix = !HasDigit(prefix) &&
                            prefix.find_first_of("\r\n") == std::string::npos;
  const auto pasv = inet::ParsePasvPort("227 Entering Passive Mode (" +
                                        argument + ")");
  if (port == 0) {
    Check(!pasv);
  } else {
    Check(pasv && *pasv == port);
    // Without parentheses, after any text that holds no digit.
    if (clean_prefix) {
      const auto loose = inet::ParsePasvPort("227 " + prefix + argument);
      Check(loose && *loose == port);
    }
  }
  if (delimiter < '0' || delimiter > '9') {
    const std::string d(1, delimiter);
    const std::string epsv = "(" + d + d + d + std::to_string(port) + d + ")";
    const auto parsed =
        inet::ParseEpsvPort("229 Entering Extended Passive Mode " + epsv);
    if (port == 0) {
      Check(!parsed);
    } else {
      Check(parsed && *parsed == port);
      if (prefix.find_first_of("(\r\n") == std::string::npos) {
        const auto after = inet::ParseEpsvPort("229 " + prefix + epsv);
        Check(after && *after == port);
      }
    }
  }
  const std::string eprt = inet::FormatEprtArgument(false, ipv4, port);
  Check(eprt == "|1|" + ipv4 + "|" + std::to_string(port) + "|");

  // Sizes: "150 ... (N bytes)" and "213 N" read back N (any size below 2^63).
  const uint64_t n = (uint64_t{a & 0x7FFFFFFFu} << 32) | port;
  const auto announced = inet::ParseAnnouncedSize(
      "150 Opening BINARY mode data connection for f (" + std::to_string(n) +
      " bytes)");
  Check(announced && *announced == n);
  const auto sized = inet::ParseSizeReply("213 " + std::to_string(n));
  Check(sized && *sized == n);
  return 0;
}
