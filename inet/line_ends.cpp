#include "inet/line_ends.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace inet {
namespace {

constexpr ptrdiff_t kBlock = 16;

// Copies the 16 bytes at `p` to `out` and returns the offset of the first
// `c` among them, or 16 when there is none. Text is mostly runs without line
// ends, which this moves a block at a time; the caller then overwrites what
// was copied past the line end. `out` must have room for all 16 bytes.
inline ptrdiff_t CopyBlockUpTo(char c, const char* p, char* out) {
#if defined(__SSE2__)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
  const unsigned mask = static_cast<unsigned>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))));
  return mask == 0 ? kBlock : __builtin_ctz(mask);
#else
  std::memcpy(out, p, kBlock);
  return std::find(p, p + kBlock, c) - p;
#endif
}

// Moves the bytes at `p` up to the first `c` among the next 16 to `out`,
// which lies at or before `p`, and returns their number (16 when there is no
// `c`). Only bytes already read are overwritten, so a chunk can be converted
// where it lies.
inline ptrdiff_t MoveBlockUpTo(char c, const char* p, char* out) {
#if defined(__SSE2__)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const unsigned mask = static_cast<unsigned>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))));
  if (mask == 0) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    return kBlock;
  }
  const ptrdiff_t i = __builtin_ctz(mask);
#else
  const ptrdiff_t i = std::find(p, p + kBlock, c) - p;
#endif
  std::memmove(out, p, static_cast<size_t>(i));
  return i;
}

}  // namespace

// Room: the output never runs more than twice the input consumed, so a
// block store at `o` stays within MaxOutput(size) while 16 input bytes remain.
size_t LfToCrlf::Convert(const char* in, size_t size, char* out) {
  const char* p = in;
  const char* const end = in + size;
  char* o = out;
  while (end - p >= kBlock) {
    const ptrdiff_t i = CopyBlockUpTo('\n', p, o);
    if (i == kBlock) {
      p += kBlock;
      o += kBlock;
      continue;
    }
    const bool after_cr = p + i > in ? p[i - 1] == '\r' : last_was_cr_;
    p += i + 1;
    o += i;
    if (!after_cr) *o++ = '\r';
    *o++ = '\n';
  }
  for (; p < end; ++p) {
    if (*p == '\n' && !(p > in ? p[-1] == '\r' : last_was_cr_)) *o++ = '\r';
    *o++ = *p;
  }
  if (size > 0) last_was_cr_ = end[-1] == '\r';
  return static_cast<size_t>(o - out);
}

void LfToCrlf::Convert(std::string_view in, std::string* out) {
  const size_t at = out->size();
  out->resize(at + MaxOutput(in.size()));
  out->resize(at + Convert(in.data(), in.size(), out->data() + at));
}

// Room: the output is at most one byte (a CR held back from the chunk
// before) ahead of the input consumed, so a block store stays within
// MaxOutput(size) while 16 input bytes remain.
size_t CrlfToLf::Convert(const char* in, size_t size, char* out) {
  const char* p = in;
  const char* const end = in + size;
  char* o = out;
  if (size > 0 && pending_cr_) {
    pending_cr_ = false;
    if (*p != '\n') *o++ = '\r';
  }
  while (end - p > kBlock) {
    // More than a block left: a CR in it has a byte after it to look at.
    const ptrdiff_t i = CopyBlockUpTo('\r', p, o);
    if (i == kBlock) {
      p += kBlock;
      o += kBlock;
      continue;
    }
    // A CR with at least one byte after it in this chunk: dropped before an
    // LF (which the next block copies), kept otherwise.
    p += i;
    o += i;
    if (p[1] != '\n') *o++ = '\r';
    ++p;
  }
  for (; p < end; ++p) {
    if (*p == '\r') {
      if (p + 1 == end) {
        // Held back: the next chunk decides.
        pending_cr_ = true;
        break;
      }
      if (p[1] == '\n') continue;  // keep the LF, drop the CR
    }
    *o++ = *p;
  }
  return static_cast<size_t>(o - out);
}

void CrlfToLf::Convert(std::string_view in, std::string* out) {
  const size_t at = out->size();
  out->resize(at + MaxOutput(in.size()));
  out->resize(at + Convert(in.data(), in.size(), out->data() + at));
}

std::string_view CrlfToLf::ConvertInPlace(char* data, size_t size) {
  char* out = data;
  if (size == 0) return {out, 0};
  if (pending_cr_) {
    pending_cr_ = false;
    if (*data != '\n') *--out = '\r';
  }
  char* const end = data + size;
  // Nothing moves before the first CR.
  char* p = static_cast<char*>(std::memchr(data, '\r', size));
  if (p == nullptr) return {out, size + static_cast<size_t>(data - out)};
  char* o = p;
  while (end - p > kBlock) {
    const ptrdiff_t i = MoveBlockUpTo('\r', p, o);
    p += i;
    o += i;
    if (i == kBlock) continue;
    // A CR with at least one byte after it: dropped before an LF.
    if (p[1] != '\n') *o++ = '\r';
    ++p;
  }
  for (; p < end; ++p) {
    if (*p == '\r') {
      if (p + 1 == end) {
        pending_cr_ = true;  // the next chunk decides
        break;
      }
      if (p[1] == '\n') continue;
    }
    *o++ = *p;
  }
  return {out, static_cast<size_t>(o - out)};
}

bool CrlfToLf::Unchanged(const char* in, size_t size) const {
  return !pending_cr_ && std::memchr(in, '\r', size) == nullptr;
}

void CrlfToLf::Finish(std::string* out) {
  if (pending_cr_) out->push_back('\r');
  pending_cr_ = false;
}

}  // namespace inet
