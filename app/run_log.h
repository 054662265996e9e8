// The run log zorvexlog.txt, written whole or not at all: the line goes to a
// temporary file in the log's folder, which then replaces the log in one
// step, so that a reader, or a second run from the same folder at the same
// moment, sees one whole line, never a torn one.
#ifndef ZORVEX_APP_RUN_LOG_H_
#define ZORVEX_APP_RUN_LOG_H_

#include <string>

#include "platform/env.h"

namespace zorvex {

// Makes `bytes` the whole content of the file `path` (ANSI code page).
// Throws the RunError that opening, writing or closing the log for output
// would raise: a folder at `path`, a log that may not be written and a
// folder that may not be written to fail as opening it would. A log that a
// new file cannot stand in for (other hard links, another owner, a device)
// is written in place; a symbolic link is followed.
void WriteRunLog(platform::Env* os, const std::string& path,
                 const std::string& bytes);

}  // namespace zorvex

#endif  // ZORVEX_APP_RUN_LOG_H_
