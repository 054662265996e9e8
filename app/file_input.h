// A standard input stream buffer over a platform file, so that the settings
// reader reads the settings file through the platform. A read error ends the
// input as the end of the file would.
#ifndef ZORVEX_APP_FILE_INPUT_H_
#define ZORVEX_APP_FILE_INPUT_H_

#include <streambuf>

#include "platform/file.h"

namespace zorvex {

class FileInputBuffer : public std::streambuf {
 public:
  // `file` must outlive the buffer.
  explicit FileInputBuffer(platform::File* file) : file_(file) {}

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    size_t got = 0;
    if (file_->Read(buffer_, sizeof buffer_, &got) != 0 || got == 0)
      return traits_type::eof();
    setg(buffer_, buffer_, buffer_ + got);
    return traits_type::to_int_type(*gptr());
  }

 private:
  platform::File* file_;
  char buffer_[4096];
};

}  // namespace zorvex

#endif  // ZORVEX_APP_FILE_INPUT_H_
