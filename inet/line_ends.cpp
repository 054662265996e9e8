#include "inet/line_ends.h"

namespace inet {

void LfToCrlf::Convert(std::string_view in, std::string* out) {
  out->reserve(out->size() + in.size() + in.size() / 8);
  size_t start = 0;
  for (size_t i = 0; i < in.size(); ++i) {
    const char c = in[i];
    if (c == '\n') {
      const bool after_cr = i > 0 ? in[i - 1] == '\r' : last_was_cr_;
      if (!after_cr) {
        out->append(in.data() + start, i - start);
        out->push_back('\r');
        start = i;  // the LF itself goes with the next run
      }
    }
  }
  out->append(in.data() + start, in.size() - start);
  if (!in.empty()) last_was_cr_ = in.back() == '\r';
}

void CrlfToLf::Convert(std::string_view in, std::string* out) {
  out->reserve(out->size() + in.size() + 1);
  size_t i = 0;
  if (pending_cr_ && !in.empty()) {
    pending_cr_ = false;
    if (in[0] != '\n') out->push_back('\r');
  }
  size_t start = 0;
  for (; i < in.size(); ++i) {
    if (in[i] != '\r') continue;
    if (i + 1 == in.size()) {
      // Held back: the next chunk decides.
      out->append(in.data() + start, i - start);
      pending_cr_ = true;
      return;
    }
    if (in[i + 1] == '\n') {
      out->append(in.data() + start, i - start);
      start = i + 1;  // keep the LF, drop the CR
    }
  }
  out->append(in.data() + start, in.size() - start);
}

void CrlfToLf::Finish(std::string* out) {
  if (pending_cr_) out->push_back('\r');
  pending_cr_ = false;
}

}  // namespace inet
