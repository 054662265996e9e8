// Feeds arbitrary bytes as the command-line tail to the run's splitting
// (ftp_put_chk and ftp_get_chk) and to the string functions it is built on.
// Only run-time error 5 may come out, and only where the tail asks for it (a
// comma before the fourth character, a remote path without "/"); otherwise
// the pieces put back together give the tail again.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "app/run_error.h"
#include "app/text_functions.h"
#include "app/zorvexrun.h"
#include "fuzz/fuzz_check.h"

namespace {

bool Trimmed(std::string_view s) {
  return s.empty() || (s.front() != ' ' && s.back() != ' ');
}

bool EndsWithPadded(std::string_view s, std::string_view piece) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s.size() >= piece.size() && s.substr(s.size() - piece.size()) == piece;
}

void CheckTextFunctions(std::string_view s, int64_t cut) {
  const int64_t len = zorvex::Len(s);
  Check(len >= 0 && static_cast<size_t>(len) <= s.size());
  Check(len == 0 || static_cast<size_t>(len) * 4 >= s.size());
  const int64_t k = len == 0 ? 0 : cut % (len + 1);
  Check(zorvex::Left(s, k) + zorvex::Mid(s, k + 1) == s);
  Check(zorvex::Len(zorvex::Left(s, k)) == k);
  Check(zorvex::Mid(s, k + 1, 1).size() <= 4);
  Check(zorvex::Mid(s, len + 1).empty());
  const int64_t comma = zorvex::InStr(s, ",");
  const int64_t last = zorvex::InStrRev(s, ",");
  Check((comma == 0) == (last == 0));
  Check(comma <= last && last <= len);
  if (comma > 0) {
    Check(zorvex::Mid(s, comma, 1) == ",");
    Check(zorvex::Mid(s, last, 1) == ",");
    Check(zorvex::InStr(zorvex::Left(s, comma - 1), ",") == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const auto cut = provider.ConsumeIntegralInRange<int64_t>(0, 1 << 20);
  const std::string tail = provider.ConsumeRemainingBytesAsString();
  CheckTextFunctions(tail, cut);

  const int64_t comma = zorvex::InStr(tail, ",");
  zorvex::ZorvexRun run{zorvex::RunEnvironment{}};
  run.szCmd = tail;

  // Upload: the local file between the third character and the first comma,
  // the remote path after it.
  try {
    run.ftp_put_chk();
    Check(comma >= 4);
    Check(run.nComma == comma);
    Check(Trimmed(run.szInFile) && Trimmed(run.szOutFolder));
    Check(tail.find(run.szInFile) != std::string::npos);
    Check(EndsWithPadded(tail, run.szOutFolder));
    Check(run.szOutFolder.size() < tail.size());
  } catch (const zorvex::RunError& e) {
    Check(e.number() == zorvex::kErrInvalidCall);
    Check(comma < 4);
  }

  // Download: the remote path splits at its last "/" into directory and name.
  try {
    run.ftp_get_chk();
    Check(comma >= 4);
    Check(run.nComma >= 1);
    Check(Trimmed(run.szOutFolder));
    Check(EndsWithPadded(tail, run.szOutFolder));
    Check(run.szInFile.find('/') == std::string::npos);
    const std::string remote = run.szGetDir + "/" + run.szInFile;
    Check(tail.find(remote) != std::string::npos);
  } catch (const zorvex::RunError& e) {
    Check(e.number() == zorvex::kErrInvalidCall);
    Check(comma < 4 || zorvex::InStr(zorvex::Mid(tail, 4, comma - 4), "/") == 0);
  }
  return 0;
}
