// An IPv4 or IPv6 socket address: the host's bytes and a port. A plain value,
// the same on every platform; the platform's sockets fill it in.
#ifndef ZORVEX_PLATFORM_ADDRESS_H_
#define ZORVEX_PLATFORM_ADDRESS_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

struct Address {
  enum class Family : uint8_t { kNone, kIPv4, kIPv6 };

  Family family = Family::kNone;
  // IPv4: the first four bytes; IPv6: all sixteen, in network order.
  std::array<uint8_t, 16> bytes{};
  uint16_t port = 0;
  uint32_t scope_id = 0;  // IPv6 only: the interface of a link-local address

  bool ipv6() const { return family == Family::kIPv6; }

  // The numeric host: "127.0.0.1", "::1", "fe80::1", and an IPv4-mapped
  // address as "::ffff:127.0.0.1" (RFC 5952). "" for kNone.
  std::string Host() const;

  // True when both name the same host; an IPv4-mapped IPv6 address equals
  // its IPv4 address. Ports are not compared.
  bool SameHost(const Address& other) const;

  // A numeric IPv4 address ("192.0.2.7") or IPv6 address ("2001:db8::7",
  // "::ffff:192.0.2.7") with the given port; nullopt for any other text.
  static std::optional<Address> Parse(std::string_view host, uint16_t port = 0);
};

}  // namespace platform

#endif  // ZORVEX_PLATFORM_ADDRESS_H_
