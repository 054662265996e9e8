// The directory lookup that tells whether a local file or folder exists.
//
// The last element of the path may hold the wildcards * and ?; any entry of
// its folder that matches (and is of a kind that counts) is enough, as the
// system's own directory search finds it. Links are followed. The empty
// path, and a path that holds a NUL character, are never found.
#ifndef ZORVEX_APP_LOCAL_LOOKUP_H_
#define ZORVEX_APP_LOCAL_LOOKUP_H_

#include <string_view>

#include "platform/env.h"

namespace zorvex {

enum class LookupKind {
  kFiles,              // ordinary files only
  kFilesOrDirectories  // ordinary files and directories
};

// `path` is UTF-8; it reaches the file system in the ANSI code page.
bool LocalExists(std::string_view path, LookupKind kind,
                 platform::Env* env = platform::Env::Default());

}  // namespace zorvex

#endif  // ZORVEX_APP_LOCAL_LOOKUP_H_
