#include "app/host_port.h"

#include <cctype>

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

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
      return false;
  }
  return true;
}

// The older form, without a scheme.
HostPort SplitBare(std::string_view text) {
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

// What follows a scheme: HOST[:PORT][/].
HostPort SplitAfterScheme(std::string_view rest, FtpSecurity security) {
  HostPort out;
  out.security = security;
  out.valid = false;
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  std::string_view host;
  std::string_view tail;
  if (!rest.empty() && rest.front() == '[') {
    const size_t close = rest.find(']');
    if (close == std::string_view::npos || close < 2) return out;
    host = rest.substr(1, close - 1);
    if (host.find_first_not_of("0123456789abcdefABCDEF:.") !=
        std::string_view::npos)
      return out;
    tail = rest.substr(close + 1);
  } else {
    const size_t colon = rest.find(':');
    host = rest.substr(0, colon);
    tail = colon == std::string_view::npos ? std::string_view()
                                           : rest.substr(colon);
    if (host.empty()) return out;
    for (char ch : host) {
      const auto c = static_cast<unsigned char>(ch);
      // A name's or an IPv4 address's characters; no user, path or spaces.
      if (!(std::isalnum(c) || ch == '-' || ch == '.' || ch == '_' || c >= 0x80))
        return out;
    }
  }
  if (!tail.empty()) {
    if (tail.front() != ':') return out;
    out.port = ParsePort(tail.substr(1));
    if (!out.port) return out;
  }
  out.host = std::string(host);
  out.valid = true;
  return out;
}

}  // namespace

HostPort SplitHostPort(std::string_view text) {
  if (StartsWithNoCase(text, "ftpes://"))
    return SplitAfterScheme(text.substr(8), FtpSecurity::kExplicitTls);
  if (StartsWithNoCase(text, "ftps://"))
    return SplitAfterScheme(text.substr(7), FtpSecurity::kImplicitTls);
  if (StartsWithNoCase(text, "ftp://"))
    return SplitAfterScheme(text.substr(6), FtpSecurity::kPlain);
  return SplitBare(text);
}

}  // namespace zorvex
