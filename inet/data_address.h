// The data-connection addresses of the control protocol: reading the port out
// of a 227 (PASV) or 229 (EPSV) reply and writing the PORT and EPRT
// arguments. The host part of a 227 reply is checked for form but never used:
// the data connection always goes to the control connection's peer.
#ifndef ZORVEX_INET_DATA_ADDRESS_H_
#define ZORVEX_INET_DATA_ADDRESS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace inet {

// The port of a 227 reply, "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)",
// with or without the parentheses. nullopt when no six numbers 0..255 are
// found or the port is 0.
std::optional<uint16_t> ParsePasvPort(std::string_view reply);

// The port of a 229 reply, "229 Entering Extended Passive Mode (|||port|)",
// where "|" may be any printable delimiter. nullopt unless well formed with
// a port in 1..65535.
std::optional<uint16_t> ParseEpsvPort(std::string_view reply);

// "h1,h2,h3,h4,p1,p2" for an IPv4 address in dotted form; empty when
// `ipv4` is not one.
std::string FormatPortArgument(std::string_view ipv4, uint16_t port);

// "|1|host|port|" (IPv4) or "|2|host|port|" (IPv6) for a numeric host.
std::string FormatEprtArgument(bool ipv6, std::string_view host, uint16_t port);

// The size that a 150 reply announces as "(N bytes)"; nullopt when none.
std::optional<uint64_t> ParseAnnouncedSize(std::string_view reply);

// The size in a 213 reply to SIZE ("213 N"); nullopt when not a number.
std::optional<uint64_t> ParseSizeReply(std::string_view reply);

}  // namespace inet

#endif  // ZORVEX_INET_DATA_ADDRESS_H_
