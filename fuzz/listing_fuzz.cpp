// Feeds arbitrary bytes as a directory listing through the line splitter (in
// chunks of varying size) and every line through the MLSD and LIST parsers,
// with an arbitrary "now". Any entry that comes back must be sane.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "inet/filetime.h"
#include "inet/line_splitter.h"
#include "inet/listing.h"

namespace {

void CheckEntry(const std::optional<inet::ListEntry>& entry,
                std::string_view line) {
  if (!entry) return;
  Check(!entry->name.empty());
  Check(entry->name.size() <= line.size());
  Check(entry->name.find('\0') == std::string::npos);
  Check(entry->name.find('\n') == std::string::npos);
  if (inet::FileTimeIsZero(entry->mtime)) return;
  // A known time is a real calendar time, which converts back exactly
  // (to the second).
  inet::SYSTEMTIME st;
  Check(inet::CivilFromFileTime(entry->mtime, &st));
  inet::FILETIME back;
  Check(inet::FileTimeFromCivil(st.wYear, st.wMonth, st.wDay, st.wHour,
                                st.wMinute, st.wSecond, &back));
  const uint64_t ticks = inet::FileTimeToU64(entry->mtime);
  Check(inet::FileTimeToU64(back) ==
        ticks - ticks % inet::kFileTimeTicksPerSecond);
}

// Cuts `listing` into lines as a listing's data connection does, fed in
// chunks of `chunk` bytes, and hands every line to `on_line`.
template <typename OnLine>
void SplitInto(const std::string& listing, size_t chunk, size_t max_line,
               OnLine on_line) {
  inet::LineSplitter splitter(max_line);
  std::string_view line;
  for (size_t at = 0; at < listing.size(); at += chunk) {
    splitter.Append(std::string_view(listing).substr(at, chunk));
    for (inet::LineSplitter::Status s;
         (s = splitter.Next(&line)) != inet::LineSplitter::Status::kNeedMore;) {
      if (s == inet::LineSplitter::Status::kLine) on_line(line);
    }
  }
  if (splitter.Finish(&line)) on_line(line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const auto now = provider.ConsumeIntegral<int64_t>();
  const auto chunk = provider.ConsumeIntegralInRange<size_t>(1, 300);
  const auto max_line = provider.ConsumeIntegralInRange<size_t>(0, 200);
  const std::string listing = provider.ConsumeRemainingBytesAsString();

  // Conversions of the raw "now" as a file time.
  inet::SYSTEMTIME st;
  if (inet::CivilFromFileTime(inet::FileTimeFromU64(static_cast<uint64_t>(now)),
                              &st)) {
    Check(st.wMonth >= 1 && st.wMonth <= 12 && st.wDay >= 1 && st.wDay <= 31 &&
          st.wDayOfWeek <= 6 && st.wHour <= 23 && st.wMinute <= 59 &&
          st.wSecond <= 59 && st.wMilliseconds <= 999);
  }

  auto parse = [&](std::string_view line) {
    CheckEntry(inet::ParseMlsdLine(line), line);
    CheckEntry(inet::ParseListLine(line, now), line);
    CheckEntry(inet::ParseListLine(line, 1750000000), line);
  };
  // The whole input as one line, and as a stream of lines.
  parse(listing);
  SplitInto(listing, chunk, inet::kMaxListingLine, parse);
  // A small line limit: no line handed out is ever longer than the limit.
  SplitInto(listing, chunk, max_line,
            [&](std::string_view line) { Check(line.size() <= max_line); });
  return 0;
}
