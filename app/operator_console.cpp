#include "app/operator_console.h"

#include <cstdio>

#include "platform/locale.h"

namespace zorvex {
namespace {

std::string Bytes(double n) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int unit = 0;
  while (n >= 1024 && unit < 4) n /= 1024, ++unit;
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", n,
                kUnits[unit]);
  return text;
}

void Write(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

std::string FormatProgress(uint64_t done, uint64_t total, double rate) {
  std::string line = "  " + Bytes(static_cast<double>(done));
  if (total > 0) {
    const uint64_t percent = done >= total ? 100 : done * 100 / total;
    line += "  " + std::to_string(percent) + "%";
  }
  if (rate > 0) {
    line += "  " + Bytes(rate) + "/s";
    if (total > done && rate > 0) {
      const uint64_t left =
          static_cast<uint64_t>(static_cast<double>(total - done) / rate + 0.5);
      char text[32];
      std::snprintf(text, sizeof text, "  %llu:%02llu left",
                    static_cast<unsigned long long>(left / 60),
                    static_cast<unsigned long long>(left % 60));
      line += text;
    }
  }
  return line;
}

void OperatorConsole::Line(std::string_view text) {
  if (!verbose_) return;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (ended_) return;
  }
  const bool marked = text.rfind("> ", 0) == 0 || text.rfind("< ", 0) == 0 ||
                      text.rfind("* ", 0) == 0;
  WriteLine(marked ? std::string(text) : "* " + std::string(text));
}

void OperatorConsole::Cause(std::string_view text) {
  if (!verbose_) return;
  WriteLine("* cause: " + std::string(text));
  std::lock_guard<std::mutex> lock(mu_);
  ended_ = true;
}

void OperatorConsole::WriteLine(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 1);
  for (char c : text)
    line.push_back(static_cast<unsigned char>(c) < 0x20 && c != '\t' ? '?' : c);
  line = platform::ToAnsi(line) + "\n";
  std::lock_guard<std::mutex> lock(mu_);
  ClearLocked();
  Write(line);
}

void OperatorConsole::Progress(uint64_t done, uint64_t total) {
  if (!progress_) return;
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(mu_);
  if (!started_ || done < first_done_) {
    started_ = now;
    first_done_ = done;
  }
  const double seconds =
      std::chrono::duration<double>(now - *started_).count();
  // The rate counts what this transfer moved, not what a resumed one found
  // already there; it is shown once there is half a second to judge by.
  const double rate =
      seconds > 0.5 ? static_cast<double>(done - first_done_) / seconds : 0;
  const std::string line = FormatProgress(done, total, rate);
  // Drawn twice: over a longer line drawn before, blanks clear its end.
  std::string out(1, '\r');
  out.append(line);
  if (line.size() < drawn_) out.append(drawn_ - line.size(), ' ');
  out.push_back('\r');
  out.append(line);
  drawn_ = line.size();
  Write(out);
}

void OperatorConsole::ClearProgress() {
  std::lock_guard<std::mutex> lock(mu_);
  ClearLocked();
  started_.reset();
}

void OperatorConsole::ClearLocked() {
  if (drawn_ == 0) return;
  std::string blank(drawn_ + 2, ' ');
  blank.front() = '\r';
  blank.back() = '\r';
  Write(blank);
  drawn_ = 0;
}

}  // namespace zorvex
