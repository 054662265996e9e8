// The local side of a download on POSIX systems: what a target is, and the
// temporary files that take its place (named, or unnamed with O_TMPFILE
// until the whole file has arrived). The Env of env_posix.cpp forwards here.
#ifndef ZORVEX_PLATFORM_POSIX_LOCAL_TARGET_POSIX_H_
#define ZORVEX_PLATFORM_POSIX_LOCAL_TARGET_POSIX_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/env.h"
#include "platform/file.h"

namespace platform {

// The folder part of a path: "." when it has no slash, "/" for "/name".
std::string ParentOf(const std::string& path);

// Env::Status: lstat of `path`.
FileStatus TargetStatus(const std::string& path);
// Env::FollowLinks and Env::MayWrite.
std::string FollowTargetLinks(const std::string& path);
bool MayWriteTarget(const std::string& path);

// Env::CreateTemporary: ".<name>.zvx-XXXXXX" beside `target`.
uint32_t CreateNamedTemporary(const std::string& target,
                              std::unique_ptr<File>* out, std::string* path);
// Env::CreateUnnamed: O_TMPFILE in the folder of `target`; 50 where the
// kernel or the file system has none.
uint32_t CreateUnnamedTemporary(const std::string& target,
                                std::unique_ptr<File>* out);
// Env::NameUnnamed: links the open file to a fresh ".<name>.zvx-XXXXXX".
uint32_t NameUnnamedTemporary(File& file, const std::string& target,
                              std::string* path);

}  // namespace platform

#endif  // ZORVEX_PLATFORM_POSIX_LOCAL_TARGET_POSIX_H_
