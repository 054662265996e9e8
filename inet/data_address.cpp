#include "inet/data_address.h"

#include <cstdio>

#include "platform/address.h"

namespace inet {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a decimal number of at most `max_digits` digits at s[*i].
std::optional<uint64_t> ReadNumber(std::string_view s, size_t* i,
                                   size_t max_digits) {
  size_t start = *i;
  uint64_t value = 0;
  while (*i < s.size() && IsDigit(s[*i])) {
    if (*i - start >= max_digits) return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(s[*i] - '0');
    ++*i;
  }
  if (*i == start) return std::nullopt;
  return value;
}

// The reply text after its code: the first line only.
std::string_view FirstLineBody(std::string_view reply) {
  size_t end = reply.find_first_of("\r\n");
  if (end != std::string_view::npos) reply = reply.substr(0, end);
  if (reply.size() >= 4 && IsDigit(reply[0]) && IsDigit(reply[1]) &&
      IsDigit(reply[2]))
    return reply.substr(4);
  if (reply.size() == 3) return {};
  return reply;
}

}  // namespace

std::optional<uint16_t> ParsePasvPort(std::string_view reply) {
  std::string_view body = FirstLineBody(reply);
  for (size_t start = 0; start < body.size(); ++start) {
    if (!IsDigit(body[start]) || (start > 0 && IsDigit(body[start - 1])))
      continue;
    size_t i = start;
    uint64_t n[6];
    bool ok = true;
    for (int k = 0; k < 6 && ok; ++k) {
      if (k > 0) {
        if (i >= body.size() || body[i] != ',') {
          ok = false;
          break;
        }
        ++i;
      }
      auto v = ReadNumber(body, &i, 3);
      if (!v || *v > 255) ok = false;
      else n[k] = *v;
    }
    if (!ok) continue;
    if (i < body.size() && IsDigit(body[i])) continue;
    const uint64_t port = n[4] * 256 + n[5];
    if (port == 0) return std::nullopt;
    return static_cast<uint16_t>(port);
  }
  return std::nullopt;
}

std::optional<uint16_t> ParseEpsvPort(std::string_view reply) {
  std::string_view body = FirstLineBody(reply);
  size_t open = body.find('(');
  while (open != std::string_view::npos) {
    size_t i = open + 1;
    if (i + 3 < body.size()) {
      const char d = body[i];
      if (d >= 33 && d <= 126 && !IsDigit(d) && body[i + 1] == d &&
          body[i + 2] == d) {
        i += 3;
        auto port = ReadNumber(body, &i, 5);
        if (port && *port >= 1 && *port <= 65535 && i + 1 < body.size() &&
            body[i] == d && body[i + 1] == ')')
          return static_cast<uint16_t>(*port);
      }
    }
    open = body.find('(', open + 1);
  }
  return std::nullopt;
}

std::string FormatPortArgument(std::string_view ipv4, uint16_t port) {
  const std::optional<platform::Address> address =
      platform::Address::Parse(ipv4);
  if (!address || address->ipv6()) return {};
  const uint8_t* b = address->bytes.data();
  char buf[64];
  std::snprintf(buf, sizeof buf, "%u,%u,%u,%u,%u,%u", b[0], b[1], b[2], b[3],
                unsigned{port} >> 8, unsigned{port} & 0xFFu);
  return buf;
}

std::string FormatEprtArgument(bool ipv6, std::string_view host,
                               uint16_t port) {
  std::string out = ipv6 ? "|2|" : "|1|";
  out.append(host);
  out.push_back('|');
  out.append(std::to_string(port));
  out.push_back('|');
  return out;
}

std::optional<uint64_t> ParseAnnouncedSize(std::string_view reply) {
  std::string_view body = FirstLineBody(reply);
  size_t open = body.rfind('(');
  while (open != std::string_view::npos) {
    size_t i = open + 1;
    auto n = ReadNumber(body, &i, 19);
    if (n && body.substr(i, 7) == " bytes)") return n;
    if (open == 0) break;
    open = body.rfind('(', open - 1);
  }
  return std::nullopt;
}

std::optional<uint64_t> ParseSizeReply(std::string_view reply) {
  std::string_view body = FirstLineBody(reply);
  size_t i = 0;
  while (i < body.size() && body[i] == ' ') ++i;
  auto n = ReadNumber(body, &i, 19);
  if (!n) return std::nullopt;
  while (i < body.size() && (body[i] == ' ' || body[i] == '\t')) ++i;
  if (i != body.size()) return std::nullopt;
  return n;
}

}  // namespace inet
