#include "platform/address.h"

#include <cstdio>
#include <cstring>

namespace platform {
namespace {

constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

bool IsMapped(const Address& a) {
  return a.ipv6() && std::memcmp(a.bytes.data(), kMappedPrefix, 12) == 0;
}

std::string DottedQuad(const uint8_t* b) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return text;
}

// Reads "a.b.c.d" (four decimal numbers 0..255 without leading zeros).
bool ParseDottedQuad(std::string_view text, uint8_t* out) {
  size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    const size_t start = pos;
    unsigned value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' &&
           pos - start < 3) {
      value = value * 10 + static_cast<unsigned>(text[pos] - '0');
      ++pos;
    }
    if (pos == start || value > 255 || (pos - start > 1 && text[start] == '0'))
      return false;
    out[i] = static_cast<uint8_t>(value);
  }
  return pos == text.size();
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads an IPv6 address (RFC 4291 text forms, a dotted quad allowed last).
bool ParseIPv6(std::string_view text, uint8_t* out) {
  uint16_t groups[8] = {};
  int count = 0;
  int gap = -1;  // index where "::" stands
  size_t pos = 0;
  if (text.substr(0, 2) == "::") {
    gap = 0;
    pos = 2;
    if (pos == text.size()) {
      std::memset(out, 0, 16);
      return true;
    }
  } else if (!text.empty() && text[0] == ':') {
    return false;
  }
  while (pos < text.size()) {
    if (count == 8) return false;
    // A dotted quad may take the place of the last two groups.
    const size_t next_colon = text.find(':', pos);
    const std::string_view rest = text.substr(pos);
    if (next_colon == std::string_view::npos &&
        rest.find('.') != std::string_view::npos) {
      uint8_t quad[4];
      if (count > 6 || !ParseDottedQuad(rest, quad)) return false;
      groups[count++] = static_cast<uint16_t>(quad[0] << 8 | quad[1]);
      groups[count++] = static_cast<uint16_t>(quad[2] << 8 | quad[3]);
      pos = text.size();
      break;
    }
    unsigned value = 0;
    const size_t start = pos;
    while (pos < text.size() && HexValue(text[pos]) >= 0 && pos - start < 4) {
      value = value * 16 + static_cast<unsigned>(HexValue(text[pos]));
      ++pos;
    }
    if (pos == start) return false;
    groups[count++] = static_cast<uint16_t>(value);
    if (pos == text.size()) break;
    if (text[pos] != ':') return false;
    ++pos;
    if (pos < text.size() && text[pos] == ':') {
      if (gap >= 0) return false;
      gap = count;
      ++pos;
      if (pos == text.size()) break;
    } else if (pos == text.size()) {
      return false;  // a single ":" at the end
    }
  }
  if (gap < 0 && count != 8) return false;
  if (gap >= 0 && count > 7) return false;
  uint16_t full[8] = {};
  if (gap < 0) {
    std::memcpy(full, groups, sizeof full);
  } else {
    const int tail = count - gap;
    for (int i = 0; i < gap; ++i) full[i] = groups[i];
    for (int i = 0; i < tail; ++i) full[8 - tail + i] = groups[gap + i];
  }
  for (int i = 0; i < 8; ++i) {
    out[2 * i] = static_cast<uint8_t>(full[i] >> 8);
    out[2 * i + 1] = static_cast<uint8_t>(full[i] & 0xFF);
  }
  return true;
}

}  // namespace

std::string Address::Host() const {
  if (family == Family::kIPv4) return DottedQuad(bytes.data());
  if (family != Family::kIPv6) return std::string();
  if (IsMapped(*this)) return "::ffff:" + DottedQuad(bytes.data() + 12);
  uint16_t groups[8];
  for (int i = 0; i < 8; ++i)
    groups[i] = static_cast<uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
  // The longest run of two or more zero groups (the first of equals) is
  // written "::".
  int best = -1, best_length = 1;
  for (int i = 0; i < 8;) {
    if (groups[i] != 0) {
      ++i;
      continue;
    }
    int j = i;
    while (j < 8 && groups[j] == 0) ++j;
    if (j - i > best_length) {
      best = i;
      best_length = j - i;
    }
    i = j;
  }
  std::string text;
  char group[8];
  for (int i = 0; i < 8; ++i) {
    if (i == best) {
      text += "::";
      i += best_length - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    std::snprintf(group, sizeof group, "%x", groups[i]);
    text += group;
  }
  return text;
}

bool Address::SameHost(const Address& other) const {
  auto normal = [](const Address& a, const uint8_t** data, size_t* size) {
    if (a.family == Family::kIPv4) {
      *data = a.bytes.data();
      *size = 4;
    } else if (IsMapped(a)) {
      *data = a.bytes.data() + 12;
      *size = 4;
    } else if (a.family == Family::kIPv6) {
      *data = a.bytes.data();
      *size = 16;
    } else {
      return false;
    }
    return true;
  };
  const uint8_t *a = nullptr, *b = nullptr;
  size_t a_size = 0, b_size = 0;
  if (!normal(*this, &a, &a_size) || !normal(other, &b, &b_size)) return false;
  return a_size == b_size && std::memcmp(a, b, a_size) == 0;
}

std::optional<Address> Address::Parse(std::string_view host, uint16_t port) {
  Address address;
  address.port = port;
  if (ParseDottedQuad(host, address.bytes.data())) {
    address.family = Family::kIPv4;
    return address;
  }
  if (host.find(':') != std::string_view::npos &&
      ParseIPv6(host, address.bytes.data())) {
    address.family = Family::kIPv6;
    return address;
  }
  return std::nullopt;
}

}  // namespace platform
