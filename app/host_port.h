// The host field of the settings file may name a port: "name:port",
// "IPv4:port" or "[IPv6]:port", with a port from 1 to 65535 in decimal digits.
// Any other text (a bare IPv6 address included) is the host as it stands, on
// the default port.
#ifndef ZORVEX_APP_HOST_PORT_H_
#define ZORVEX_APP_HOST_PORT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zorvex {

struct HostPort {
  std::string host;             // the host without the port suffix or brackets
  std::optional<int32_t> port;  // set only when the text names a port
};

HostPort SplitHostPort(std::string_view text);

}  // namespace zorvex

#endif  // ZORVEX_APP_HOST_PORT_H_
