// What an operator asked to see on standard error besides the run's message:
// the dialogue with the server (-v) and a progress line redrawn in place
// (--progress, on a terminal only). Both are off by default, and the run's
// output is then exactly its message line.
#ifndef ZORVEX_APP_OPERATOR_CONSOLE_H_
#define ZORVEX_APP_OPERATOR_CONSOLE_H_

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace zorvex {

// The progress line's text: bytes moved, the percentage when the size is
// known, and with a rate (bytes a second, 0: not known yet) the rate and the
// time left, e.g. "  512.0 MiB  50%  101.3 MiB/s  0:05 left".
std::string FormatProgress(uint64_t done, uint64_t total, double rate);

class OperatorConsole {
 public:
  // `verbose`: Line writes; `progress`: Progress draws. Thread-safe.
  OperatorConsole(bool verbose, bool progress)
      : verbose_(verbose), progress_(progress) {}

  bool verbose() const { return verbose_; }
  bool progress() const { return progress_; }

  // One line of the dialogue, control characters shown as '?', in the
  // locale's character set. Commands ("> ") and replies ("< ") as they
  // are, the client's own notes marked "* ". Nothing after Cause.
  void Line(std::string_view text);
  // A failure's cause: the last line of the dialogue.
  void Cause(std::string_view text);
  // Redraws the progress line.
  void Progress(uint64_t done, uint64_t total);
  // Erases the progress line, before other output or at the end of a run.
  void ClearProgress();

 private:
  void ClearLocked();
  void WriteLine(std::string_view text);

  const bool verbose_;
  const bool progress_;
  std::mutex mu_;
  size_t drawn_ = 0;  // the width of the progress line on the screen
  bool ended_ = false;  // a cause has been shown
  std::optional<std::chrono::steady_clock::time_point> started_;
  uint64_t first_done_ = 0;  // a resumed transfer's start
};

}  // namespace zorvex

#endif  // ZORVEX_APP_OPERATOR_CONSOLE_H_
