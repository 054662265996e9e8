#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz and runs each one for
# a while. Usage: scripts/fuzz.sh [seconds per target, default 30]
#
# The seeds in fuzz/corpus/<target>/ are read, never changed; inputs that the
# fuzzer finds go to build-fuzz/fuzz/corpus/<target>/ and are reused by the
# next run. A crash, a sanitizer report, a leak or an input that takes over
# 10 s fails the script; the input is kept as build-fuzz/fuzz/<target>-crash-*
# (or -timeout-*, -leak-*) and the tail of the fuzzer's log is printed.
set -euo pipefail

seconds="${1:-30}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [[ "$seconds" -lt 1 ]]; then
  echo "usage: $0 [seconds per target]" >&2
  exit 2
fi
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-fuzz"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DZORVEX_FUZZ=ON -DZORVEX_TESTS=OFF \
  -DZORVEX_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target zorvex_fuzzers

status=0
shopt -s nullglob
targets=("$build"/fuzz/bin/*)
if [[ ${#targets[@]} -eq 0 ]]; then
  echo "no fuzz targets were built" >&2
  exit 1
fi
for exe in "${targets[@]}"; do
  name="$(basename "$exe")"
  seeds="$root/fuzz/corpus/$name"
  found="$build/fuzz/corpus/$name"
  log="$build/fuzz/$name.log"
  mkdir -p "$found"
  dirs=("$found")
  [[ -d "$seeds" ]] && dirs+=("$seeds")
  if "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build/fuzz/$name-" \
      "${dirs[@]}" >"$log" 2>&1; then
    execs="$(awk '/stat::number_of_executed_units:/ {print $2}' "$log" | tail -n 1)"
    echo "$name: ${execs:-?} executions in ${seconds} s, no crash"
  else
    echo "$name: FAILED (log: $log)" >&2
    tail -n 40 "$log" >&2
    status=1
  fi
done
exit "$status"
