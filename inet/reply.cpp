#include "inet/reply.h"

namespace inet {
namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

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
