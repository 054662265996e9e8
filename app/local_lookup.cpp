#include "app/local_lookup.h"

#include <string>

#include "platform/locale.h"

namespace zorvex {

bool LocalExists(std::string_view utf8_path, LookupKind kind,
                 platform::Env* env) {
  if (utf8_path.empty()) return false;
  const std::string path = platform::ToAnsi(utf8_path);
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  return env->Lookup(path, kind == LookupKind::kFilesOrDirectories);
}

}  // namespace zorvex
