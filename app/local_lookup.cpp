#include "app/local_lookup.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "inet/codepage.h"

namespace zorvex {
namespace {

bool Counts(const std::string& path, LookupKind kind) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  if (S_ISREG(st.st_mode)) return true;
  return kind == LookupKind::kFilesOrDirectories && S_ISDIR(st.st_mode);
}

}  // namespace

bool LocalExists(std::string_view utf8_path, LookupKind kind) {
  if (utf8_path.empty()) return false;
  const std::string path = inet::ToAnsi(utf8_path);
  if (path.empty() || path.find('\0') != std::string::npos) return false;

  const size_t slash = path.rfind('/');
  const std::string name =
      slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.find_first_of("*?") == std::string::npos) return Counts(path, kind);

  // The folder part as written: "" for a bare name, "/" for the root.
  const std::string folder =
      slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::unique_ptr<DIR, int (*)(DIR*)> dir(
      ::opendir(folder.empty() ? "." : folder.c_str()), ::closedir);
  if (!dir) return false;
  // Only * and ? are wildcards: brackets and backslashes match themselves.
  std::string pattern;
  for (char ch : name) {
    if (ch == '[' || ch == ']' || ch == '\\') pattern.push_back('\\');
    pattern.push_back(ch);
  }
  while (const dirent* entry = ::readdir(dir.get())) {
    if (::fnmatch(pattern.c_str(), entry->d_name, 0) == 0 &&
        Counts(folder + entry->d_name, kind)) {
      return true;
    }
  }
  return false;
}

}  // namespace zorvex
