#include "inet/reply.h"

namespace inet {
namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

void LineSplitter::Append(std::string_view data) {
  if (pos_ > 0 && pos_ >= buf_.size() / 2) {
    buf_.erase(0, pos_);
    pos_ = 0;
  }
  buf_.append(data);
}

LineSplitter::Status LineSplitter::Next(std::string* line) {
  for (;;) {
    const size_t lf = buf_.find('\n', pos_ + scanned_);
    if (lf == std::string::npos) {
      scanned_ = buf_.size() - pos_;
      if (discarding_) {
        buf_.clear();
        pos_ = scanned_ = 0;
        return Status::kNeedMore;
      }
      // A CR at the end may be the first half of the line's CR LF, which is
      // not part of the line: only the bytes before it count.
      const size_t pending =
          scanned_ - (scanned_ > 0 && buf_.back() == '\r' ? 1 : 0);
      if (pending > max_line_) {
        discarding_ = true;
        buf_.clear();
        pos_ = scanned_ = 0;
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
    line->assign(buf_, start, end - start);
    return Status::kLine;
  }
}

bool LineSplitter::Finish(std::string* line) {
  if (discarding_ || pos_ >= buf_.size()) {
    buf_.clear();
    pos_ = scanned_ = 0;
    discarding_ = false;
    return false;
  }
  size_t end = buf_.size();
  if (buf_[end - 1] == '\r') --end;
  if (end - pos_ > max_line_) {
    buf_.clear();
    pos_ = scanned_ = 0;
    return false;
  }
  line->assign(buf_, pos_, end - pos_);
  buf_.clear();
  pos_ = scanned_ = 0;
  return true;
}

ReplyAssembler::Status ReplyAssembler::Add(std::string_view line) {
  const bool has_code = line.size() >= 3 && IsDigit(line[0]) &&
                        IsDigit(line[1]) && IsDigit(line[2]);
  if (!started_) {
    if (!has_code || line[0] < '1' || line[0] > '5') return Status::kError;
    if (line.size() > 3 && line[3] != ' ' && line[3] != '-')
      return Status::kError;
    started_ = true;
    reply_.code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    reply_.text.assign(line);
    multiline_ = line.size() > 3 && line[3] == '-';
    return multiline_ ? Status::kNeedMore : Status::kDone;
  }
  if (reply_.text.size() + 2 + line.size() > max_reply_) return Status::kError;
  reply_.text.append("\r\n");
  reply_.text.append(line);
  // The last line repeats the code followed by a space (or nothing).
  if (has_code && line.compare(0, 3, reply_.text, 0, 3) == 0 &&
      (line.size() == 3 || line[3] == ' '))
    return Status::kDone;
  return Status::kNeedMore;
}

Reply ReplyAssembler::Take() {
  Reply out = std::move(reply_);
  reply_ = Reply{};
  started_ = multiline_ = false;
  return out;
}

std::optional<std::string> ParseQuotedPath(std::string_view reply) {
  size_t end = reply.find_first_of("\r\n");
  if (end != std::string_view::npos) reply = reply.substr(0, end);
  if (reply.size() > 3) reply = reply.substr(4);
  else return std::nullopt;
  size_t i = reply.find('"');
  if (i == std::string_view::npos) return std::nullopt;
  std::string path;
  for (++i; i < reply.size(); ++i) {
    if (reply[i] != '"') {
      path.push_back(reply[i]);
      continue;
    }
    if (i + 1 < reply.size() && reply[i + 1] == '"') {
      path.push_back('"');
      ++i;
      continue;
    }
    return path;
  }
  return std::nullopt;  // no closing quote
}

}  // namespace inet
