#include "inet/line_ends.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace inet {
namespace {

constexpr size_t kBlock = 16;

// True when the 16 bytes at `p` hold no `c`; then they are copied to `out`
// as they are. Text is mostly runs without line ends, which this moves a
// block at a time.
inline bool CopyBlockWithout(char c, const char* p, char* out) {
#if defined(__SSE2__)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  if (_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))) != 0) return false;
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
  return true;
#else
  if (std::find(p, p + kBlock, c) != p + kBlock) return false;
  std::copy(p, p + kBlock, out);
  return true;
#endif
}

}  // namespace

size_t LfToCrlf::Convert(const char* in, size_t size, char* out) {
  const char* p = in;
  const char* const end = in + size;
  char* o = out;
  while (p < end) {
    if (end - p >= static_cast<ptrdiff_t>(kBlock) &&
        CopyBlockWithout('\n', p, o)) {
      p += kBlock;
      o += kBlock;
      continue;
    }
    for (const char* stop = std::min(p + kBlock, end); p < stop; ++p) {
      if (*p == '\n' && !(p > in ? p[-1] == '\r' : last_was_cr_)) *o++ = '\r';
      *o++ = *p;
    }
  }
  if (size > 0) last_was_cr_ = end[-1] == '\r';
  return static_cast<size_t>(o - out);
}

void LfToCrlf::Convert(std::string_view in, std::string* out) {
  const size_t at = out->size();
  out->resize(at + MaxOutput(in.size()));
  out->resize(at + Convert(in.data(), in.size(), out->data() + at));
}

size_t CrlfToLf::Convert(const char* in, size_t size, char* out) {
  const char* p = in;
  const char* const end = in + size;
  char* o = out;
  if (size > 0 && pending_cr_) {
    pending_cr_ = false;
    if (*p != '\n') *o++ = '\r';
  }
  while (p < end) {
    if (end - p >= static_cast<ptrdiff_t>(kBlock) &&
        CopyBlockWithout('\r', p, o)) {
      p += kBlock;
      o += kBlock;
      continue;
    }
    for (const char* stop = std::min(p + kBlock, end); p < stop; ++p) {
      if (*p == '\r') {
        if (p + 1 == end) {
          // Held back: the next chunk decides.
          pending_cr_ = true;
          return static_cast<size_t>(o - out);
        }
        if (p[1] == '\n') continue;  // keep the LF, drop the CR
      }
      *o++ = *p;
    }
  }
  return static_cast<size_t>(o - out);
}

void CrlfToLf::Convert(std::string_view in, std::string* out) {
  const size_t at = out->size();
  out->resize(at + MaxOutput(in.size()));
  out->resize(at + Convert(in.data(), in.size(), out->data() + at));
}

void CrlfToLf::Finish(std::string* out) {
  if (pending_cr_) out->push_back('\r');
  pending_cr_ = false;
}

}  // namespace inet
