// Feeds arbitrary bytes as a 257 reply to the PWD parser, and checks that a
// path quoted the way a server must quote it (every quote doubled) reads back
// exactly, whatever text follows the closing quote.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "inet/reply.h"

namespace {

std::string Quote(std::string_view path) {
  std::string out = "\"";
  for (char c : path) {
    out.push_back(c);
    if (c == '"') out.push_back('"');
  }
  return out + "\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  std::string path = provider.ConsumeRandomLengthString(512);
  std::string after = provider.ConsumeRandomLengthString(64);
  const std::string reply = provider.ConsumeRemainingBytesAsString();

  // Arbitrary replies: a path comes only from between two quotes of the first
  // line, so it is shorter than that line and holds no line end.
  if (auto parsed = inet::ParseQuotedPath(reply)) {
    const std::string_view first =
        std::string_view(reply).substr(0, reply.find_first_of("\r\n"));
    Check(parsed->size() + 2 <= first.size());
    Check(parsed->find_first_of("\r\n") == std::string::npos);
    Check(first.find('"') != std::string_view::npos);
  }

  // Round trip: the path may hold anything but a line end.
  for (char& c : path) {
    if (c == '\r' || c == '\n') c = '_';
  }
  for (char& c : after) {
    if (c == '\r' || c == '\n' || c == '"') c = ' ';
  }
  const auto parsed =
      inet::ParseQuotedPath("257 " + Quote(path) + after + "\r\n257 end");
  Check(parsed && *parsed == path);
  // With the closing quote cut off, there is no path.
  std::string open = "257 " + Quote(path);
  open.pop_back();
  Check(!inet::ParseQuotedPath(open));
  return 0;
}
