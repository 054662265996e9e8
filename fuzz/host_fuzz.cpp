// Feeds arbitrary text as the settings file's host field. Whatever it is,
// the split must not crash, a valid TLS or ftp:// form must name a host that
// holds nothing but a host's characters and a port in range, and writing the
// result back in its scheme form must read the same again.
#include <cctype>
#include <cstdint>
#include <string>

#include "app/host_port.h"
#include "fuzz/fuzz_check.h"

namespace {

bool StartsWithScheme(const std::string& text) {
  std::string head;
  for (size_t i = 0; i < text.size() && i < 8; ++i)
    head += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
  return head.rfind("ftp://", 0) == 0 || head.rfind("ftps://", 0) == 0 ||
         head.rfind("ftpes://", 0) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const zorvex::HostPort hp = zorvex::SplitHostPort(text);
  if (hp.port) Check(*hp.port >= 1 && *hp.port <= 65535);
  const bool scheme = StartsWithScheme(text);
  if (!scheme || !hp.valid) {
    if (!scheme) Check(hp.valid);
    return 0;
  }
  Check(!hp.host.empty());
  Check(hp.host.find_first_of("/@ \t\r\n?#[]") == std::string::npos);
  const char* name = hp.security == zorvex::FtpSecurity::kExplicitTls ? "ftpes"
                     : hp.security == zorvex::FtpSecurity::kImplicitTls ? "ftps"
                                                                        : "ftp";
  const bool bracket = hp.host.find(':') != std::string::npos;
  std::string again = std::string(name) + "://" +
                      (bracket ? "[" + hp.host + "]" : hp.host);
  if (hp.port) again += ":" + std::to_string(*hp.port);
  const zorvex::HostPort back = zorvex::SplitHostPort(again);
  Check(back.valid && back.security == hp.security && back.host == hp.host &&
        back.port == hp.port);
  return 0;
}
