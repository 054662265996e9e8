// Feeds arbitrary bytes as a control connection through the line splitter (in
// chunks of varying size, with a varying line limit) and the lines through the
// reply assembler. Checks that memory stays bounded, that no line or reply
// passes its limit, and that the lines handed out do not depend on how the
// stream was cut into chunks: each is what a plain split of the whole stream
// at LF gives.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "inet/line_splitter.h"
#include "inet/reply.h"

namespace {

// One result of the splitter: a line, or a line refused as too long.
struct Piece {
  bool too_long;
  std::string line;
  bool operator==(const Piece&) const = default;
};

// The whole stream split at LF, one CR before each LF dropped; a line longer
// than the limit is refused. A last line without LF is returned when it is
// not empty and within the limit.
std::vector<Piece> Reference(std::string_view stream, size_t max_line) {
  std::vector<Piece> out;
  size_t start = 0;
  for (;;) {
    const size_t lf = stream.find('\n', start);
    if (lf == std::string_view::npos) break;
    std::string_view line = stream.substr(start, lf - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > max_line) out.push_back({true, {}});
    else out.push_back({false, std::string(line)});
    start = lf + 1;
  }
  std::string_view rest = stream.substr(start);
  if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);
  if (start < stream.size()) {
    if (rest.size() > max_line) out.push_back({true, {}});
    else out.push_back({false, std::string(rest)});
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const auto chunk = provider.ConsumeIntegralInRange<size_t>(1, 64);
  const auto max_line = provider.ConsumeIntegralInRange<size_t>(0, 80);
  const auto max_reply = provider.ConsumeIntegralInRange<size_t>(0, 400);
  const std::string stream = provider.ConsumeRemainingBytesAsString();

  inet::LineSplitter splitter(max_line);
  inet::ReplyAssembler assembler(max_reply);
  std::vector<Piece> pieces;
  bool assembler_failed = false;
  std::string first_line;

  auto take_line = [&](std::string_view line) {
    Check(line.size() <= max_line);
    Check(line.find('\n') == std::string::npos);
    pieces.push_back({false, std::string(line)});
    if (assembler_failed) return;
    if (first_line.empty()) first_line = std::string(line);
    switch (assembler.Add(line)) {
      case inet::ReplyAssembler::Status::kNeedMore:
        break;
      case inet::ReplyAssembler::Status::kError:
        assembler_failed = true;  // the connection would be dropped here
        break;
      case inet::ReplyAssembler::Status::kDone: {
        const inet::Reply reply = assembler.Take();
        Check(reply.code >= 100 && reply.code <= 599);
        Check(reply.kind() >= 1 && reply.kind() <= 5);
        // The first line, and then at most max_reply bytes in all.
        Check(reply.text.size() <= std::max(first_line.size(), max_reply));
        Check(reply.text.compare(0, 3, first_line, 0, 3) == 0);
        first_line.clear();
        break;
      }
    }
  };

  for (size_t at = 0; at < stream.size(); at += chunk) {
    splitter.Append(std::string_view(stream).substr(at, chunk));
    std::string_view line;
    for (;;) {
      const auto status = splitter.Next(&line);
      if (status == inet::LineSplitter::Status::kNeedMore) break;
      if (status == inet::LineSplitter::Status::kTooLong) {
        pieces.push_back({true, {}});
        continue;
      }
      take_line(line);
    }
    // Whatever waits for its LF is never more than one line's worth.
    Check(splitter.buffered() <= max_line + 1);
  }
  std::string_view last;
  if (splitter.Finish(&last)) {
    take_line(last);
  } else if (!stream.empty() && stream.back() != '\n') {
    // Finish drops a last line without LF only when it is too long (and
    // possibly already reported as such).
    if (pieces.empty() || !pieces.back().too_long) pieces.push_back({true, {}});
  }
  Check(splitter.buffered() == 0);

  const std::vector<Piece> expected = Reference(stream, max_line);
  Check(pieces == expected);
  return 0;
}
