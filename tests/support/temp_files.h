// Temporary folders and whole-file helpers for the tests, on every platform.
#ifndef ZORVEX_TESTS_SUPPORT_TEMP_FILES_H_
#define ZORVEX_TESTS_SUPPORT_TEMP_FILES_H_

#include <cstddef>
#include <string>

namespace testsupport {

// A temporary folder, removed with everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string operator/(const std::string& name) const;

 private:
  std::string path_;
};

// Whole-file helpers. ReadFile gives "" for a file that cannot be read.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
// True when the entry exists (a link is not followed).
bool Exists(const std::string& path);

// `size` bytes that depend on `seed` and show no pattern a transfer could
// keep by mistake (no repeats at block sizes, no line ends in order): files
// made with different seeds differ everywhere.
std::string PseudoRandomBytes(size_t size, char seed);

}  // namespace testsupport

#endif  // ZORVEX_TESTS_SUPPORT_TEMP_FILES_H_
