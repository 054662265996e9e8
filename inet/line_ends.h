// Line-end conversion for ASCII transfers, as a stream: the input may be cut
// into chunks anywhere, a CR LF pair included, and the result is the same as
// for the whole input at once.
#ifndef ZORVEX_INET_LINE_ENDS_H_
#define ZORVEX_INET_LINE_ENDS_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace inet {

// Upload: a bare LF becomes CR LF; an existing CR LF and a lone CR stay.
class LfToCrlf {
 public:
  // The most bytes Convert writes for `size` bytes of input.
  static constexpr size_t MaxOutput(size_t size) { return 2 * size; }
  // Writes the converted chunk to `out` (MaxOutput(size) bytes of room);
  // returns the number of bytes written.
  size_t Convert(const char* in, size_t size, char* out);
  // Appends the converted chunk to *out.
  void Convert(std::string_view in, std::string* out);

 private:
  bool last_was_cr_ = false;
};

// Download: CR LF becomes LF; a CR that no LF follows stays.
class CrlfToLf {
 public:
  static constexpr size_t MaxOutput(size_t size) { return size + 1; }
  // Writes the converted chunk to `out` (MaxOutput(size) bytes of room);
  // returns the number of bytes written. A CR at the end of the chunk is
  // held back until the next chunk shows whether an LF follows.
  size_t Convert(const char* in, size_t size, char* out);
  // Appends the converted chunk to *out.
  void Convert(std::string_view in, std::string* out);
  // Converts the chunk where it lies and returns the converted text. The
  // output never runs ahead of the input, except that a CR held back from
  // the chunk before and not followed by LF is written at data[-1]: the byte
  // before `data` must be writable room, and the text then starts there.
  std::string_view ConvertInPlace(char* data, size_t size);
  // True when the chunk would come out as it is (it holds no CR and none is
  // held back), so that it can be used without Convert.
  bool Unchanged(const char* in, size_t size) const;
  // Appends a CR still held back at the end of the stream.
  void Finish(std::string* out);

 private:
  bool pending_cr_ = false;
};

}  // namespace inet

#endif  // ZORVEX_INET_LINE_ENDS_H_
