// The options that may come before the command-line tail. A tail that does
// not start with "-" has none, and keeps its meaning exactly; "--" ends the
// options, so that a tail that does start with "-" can still be given.
#ifndef ZORVEX_APP_RUN_OPTIONS_H_
#define ZORVEX_APP_RUN_OPTIONS_H_

#include <string>
#include <vector>

namespace zorvex {

struct RunOptions {
  bool help = false;      // --help: the usage text, nothing else
  bool version = false;   // --version
  bool verbose = false;   // -v, --verbose: the dialogue and a failure's cause
  bool progress = false;  // --progress: a progress line on a terminal
  std::string settings;   // -c FILE, --settings FILE: "" = beside the program
  int retries = 0;        // --retry N: further attempts after a transient
                          // failure
  bool atomic = false;    // --atomic: an upload appears under its name whole
};

// The longest wait between two attempts is 30 s, so more retries than this
// would keep a run going for days.
inline constexpr int kMaxRetries = 1000;

struct ParsedOptions {
  RunOptions options;
  size_t consumed = 0;  // the arguments the options took, "--" included
  std::string error;    // non-empty: the line that says what is wrong
};

// Reads the options at the start of `arguments` (the command line's
// arguments after the program's name). Stops at the first argument that is
// not an option, and after "--". --help and --version count only as the one
// argument of the command line; elsewhere they start the tail, as they
// always have. An unknown option, a missing value or a count out of range
// sets `error`.
ParsedOptions ParseRunOptions(const std::vector<std::string>& arguments);

}  // namespace zorvex

#endif  // ZORVEX_APP_RUN_OPTIONS_H_
