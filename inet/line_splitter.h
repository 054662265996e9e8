// Cuts a byte stream into lines ended by LF (a CR right before the LF is not
// part of the line), in bounded memory: a line longer than the limit is
// reported once as kTooLong and its bytes are thrown away up to its LF. Used
// for the replies of the control connection and for directory listings.
#ifndef ZORVEX_INET_LINE_SPLITTER_H_
#define ZORVEX_INET_LINE_SPLITTER_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace inet {

class LineSplitter {
 public:
  enum class Status { kLine, kNeedMore, kTooLong };

  explicit LineSplitter(size_t max_line) : max_line_(max_line) {}

  // Adds the next bytes of the stream.
  void Append(std::string_view data);
  // The next complete line in *line, which stays valid until the next call
  // on the splitter. kNeedMore when no complete line is buffered.
  Status Next(std::string_view* line);
  // At the end of the stream: the last line when it has no LF. False when
  // nothing is left, or the rest is part of an over-long line.
  bool Finish(std::string_view* line);
  // Bytes received but not yet returned as lines (at most the limit + 1
  // while a line waits for its LF).
  size_t buffered() const { return buf_.size() - pos_; }

 private:
  void Reset();

  std::string buf_;
  size_t pos_ = 0;
  size_t scanned_ = 0;  // bytes after pos_ known to hold no LF
  bool discarding_ = false;
  size_t max_line_;
};

}  // namespace inet

#endif  // ZORVEX_INET_LINE_SPLITTER_H_
