#include "app/host_port.h"

namespace zorvex {
namespace {

// "1".."65535" in decimal digits (leading zeros allowed), else nothing.
std::optional<int32_t> ParsePort(std::string_view s) {
  if (s.empty()) return std::nullopt;
  int32_t port = 0;
  for (char ch : s) {
    if (ch < '0' || ch > '9') return std::nullopt;
    port = port * 10 + (ch - '0');
    if (port > 65535) return std::nullopt;
  }
  if (port < 1) return std::nullopt;
  return port;
}

}  // namespace

HostPort SplitHostPort(std::string_view text) {
  HostPort whole{std::string(text), std::nullopt};
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return whole;
  const std::optional<int32_t> port = ParsePort(text.substr(colon + 1));
  if (!port) return whole;
  std::string_view host = text.substr(0, colon);
  if (!host.empty() && host.front() == '[') {
    // "[IPv6]:port": the address inside the brackets, which holds no bracket.
    if (host.size() < 3 || host.back() != ']') return whole;
    host = host.substr(1, host.size() - 2);
    if (host.find_first_of("[]") != std::string_view::npos) return whole;
    return HostPort{std::string(host), port};
  }
  // "name:port" or "IPv4:port": exactly one colon, a non-empty name.
  if (host.empty() || host.find_first_of(":[]") != std::string_view::npos) {
    return whole;
  }
  return HostPort{std::string(host), port};
}

}  // namespace zorvex
