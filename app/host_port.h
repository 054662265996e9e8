// The host field of the settings file: a host, optionally with a port, and
// optionally with a scheme that asks for FTP over TLS.
//
//   ftpes://HOST[:PORT]   explicit TLS (AUTH TLS), port 21 unless given
//   ftps://HOST[:PORT]    implicit TLS, port 990 unless given
//   ftp://HOST[:PORT]     plain FTP, port 21 unless given
// The scheme is matched in any case. HOST is a name, an IPv4 address or an
// IPv6 address in brackets; PORT is 1 to 65535 in decimal digits; one "/"
// may end the text. Anything else after the scheme makes the field invalid.
//
// Without a scheme the field keeps its older meaning: "name:port",
// "IPv4:port" or "[IPv6]:port" names a port; any other text (a bare IPv6
// address included) is the host as it stands, on the default port.
#ifndef ZORVEX_APP_HOST_PORT_H_
#define ZORVEX_APP_HOST_PORT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ftp/security.h"

namespace zorvex {

struct HostPort {
  std::string host;             // the host without scheme, port or brackets
  std::optional<int32_t> port;  // set only when the text names a port
  FtpSecurity security = FtpSecurity::kPlain;
  bool valid = true;            // false: a scheme with a malformed host
};

HostPort SplitHostPort(std::string_view text);

}  // namespace zorvex

#endif  // ZORVEX_APP_HOST_PORT_H_
