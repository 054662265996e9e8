// Listing-parser and wildcard throughput.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "inet/listing.h"
#include "inet/wildcard.h"

namespace {

std::vector<std::string> UnixLines(int n) {
  std::vector<std::string> lines;
  lines.reserve(n);
  for (int i = 0; i < n; ++i)
    lines.push_back("-rw-r--r--    1 1000     1000     " + std::to_string(i * 37) +
                    " Mar 07 09:05 file number " + std::to_string(i) + ".dat");
  return lines;
}

std::vector<std::string> MlsdLines(int n) {
  std::vector<std::string> lines;
  lines.reserve(n);
  for (int i = 0; i < n; ++i)
    lines.push_back("type=file;size=" + std::to_string(i * 37) +
                    ";modify=20010307090500;perm=r; file number " +
                    std::to_string(i) + ".dat");
  return lines;
}

void BM_ParseListLine(benchmark::State& state) {
  const auto lines = UnixLines(10000);
  for (auto _ : state)
    for (const auto& line : lines)
      benchmark::DoNotOptimize(inet::ParseListLine(line, 1000000000));
  state.SetItemsProcessed(state.iterations() * lines.size());
}
BENCHMARK(BM_ParseListLine);

void BM_ParseMlsdLine(benchmark::State& state) {
  const auto lines = MlsdLines(10000);
  for (auto _ : state)
    for (const auto& line : lines)
      benchmark::DoNotOptimize(inet::ParseMlsdLine(line));
  state.SetItemsProcessed(state.iterations() * lines.size());
}
BENCHMARK(BM_ParseMlsdLine);

void BM_MatchWildcard(benchmark::State& state) {
  const std::string name(200, 'a');
  const std::string pattern = "*a*a*a*a*a*a*a*a*b";  // never matches
  for (auto _ : state)
    benchmark::DoNotOptimize(inet::MatchWildcard(pattern, name));
}
BENCHMARK(BM_MatchWildcard);

}  // namespace

BENCHMARK_MAIN();
