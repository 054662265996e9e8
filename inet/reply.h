// Replies of the control connection: assembling lines (inet/line_splitter.h
// cuts the byte stream into them) into replies (RFC 959: "ddd text" or a
// multi-line reply from "ddd-" to the first line that starts with "ddd ").
#ifndef ZORVEX_INET_REPLY_H_
#define ZORVEX_INET_REPLY_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace inet {

constexpr size_t kMaxReplyLine = 64 * 1024;
constexpr size_t kMaxReplySize = 1024 * 1024;

struct Reply {
  int code = 0;
  std::string text;  // every line, CRLF-separated, without a final CRLF
  int kind() const { return code / 100; }  // 1..5
};

// Collects the lines of one reply.
class ReplyAssembler {
 public:
  enum class Status { kNeedMore, kDone, kError };

  explicit ReplyAssembler(size_t max_reply = kMaxReplySize)
      : max_reply_(max_reply) {}

  // Adds one line (without its line end). kError when the first line has no
  // three-digit code in 100..599 followed by a space, a "-" or the end, or
  // when the reply grows past the limit.
  Status Add(std::string_view line);
  // The finished reply; the assembler is then ready for the next one.
  Reply Take();

 private:
  Reply reply_;
  bool multiline_ = false;
  bool started_ = false;
  size_t max_reply_;
};

// The path in the quotes of a 257 reply ("257 "/a ""b"" dir" gives /a "b"):
// a doubled quote stands for one quote. nullopt when there is no quoted path.
std::optional<std::string> ParseQuotedPath(std::string_view reply);

}  // namespace inet

#endif  // ZORVEX_INET_REPLY_H_
