#include "inet/line_splitter.h"

namespace inet {

void LineSplitter::Reset() {
  buf_.clear();
  pos_ = scanned_ = 0;
}

void LineSplitter::Append(std::string_view data) {
  if (pos_ > 0 && pos_ >= buf_.size() / 2) {
    buf_.erase(0, pos_);
    pos_ = 0;
  }
  buf_.append(data);
}

LineSplitter::Status LineSplitter::Next(std::string_view* line) {
  for (;;) {
    const size_t lf = buf_.find('\n', pos_ + scanned_);
    if (lf == std::string::npos) {
      scanned_ = buf_.size() - pos_;
      if (discarding_) {
        Reset();
        return Status::kNeedMore;
      }
      // A CR at the end may be the first half of the line's CR LF, which is
      // not part of the line: only the bytes before it count.
      const size_t pending =
          scanned_ - (scanned_ > 0 && buf_.back() == '\r' ? 1 : 0);
      if (pending > max_line_) {
        discarding_ = true;
        Reset();
        return Status::kTooLong;
      }
      return Status::kNeedMore;
    }
    size_t end = lf;
    const size_t start = pos_;
    pos_ = lf + 1;
    scanned_ = 0;
    if (discarding_) {
      discarding_ = false;
      continue;
    }
    if (end > start && buf_[end - 1] == '\r') --end;
    if (end - start > max_line_) return Status::kTooLong;
    *line = std::string_view(buf_).substr(start, end - start);
    return Status::kLine;
  }
}

bool LineSplitter::Finish(std::string_view* line) {
  if (discarding_ || pos_ >= buf_.size()) {
    Reset();
    discarding_ = false;
    return false;
  }
  size_t end = buf_.size();
  if (buf_[end - 1] == '\r') --end;
  if (end - pos_ > max_line_) {
    Reset();
    return false;
  }
  // The line stays in the buffer until the next call.
  *line = std::string_view(buf_).substr(pos_, end - pos_);
  pos_ = buf_.size();
  scanned_ = 0;
  return true;
}

}  // namespace inet
