#!/usr/bin/env bash
# Compares zorvexrun with curl, lftp and ncftp on this machine alone: installs
# what is missing (Debian packages), builds zorvexrun and list_bench in
# Release mode into build-bench, and runs bench/compare.py, which starts its
# own vsftpd on 127.0.0.1 (and, for case 6, a second one requiring TLS, with
# a test authority made by openssl) and prints a table of figures and ratios
# (JSON and CSV in build-bench/results/, or the folder given with --out).
# Options are passed on to compare.py: --cases 1,2,3,4,5,6  --reps N  --quick
# --out DIR  --source tmpfs|ext4 (where the uploaded files are read from).
# Nothing leaves the loopback interface.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-bench"
python=/usr/bin/python3

if [[ $(id -u) -ne 0 ]]; then
  echo "bench.sh must run as root: vsftpd logs its account in within a mount" \
       "namespace of its own, and missing packages are installed with apt-get" >&2
  exit 1
fi

# --- What the comparison needs ----------------------------------------------
missing=()
need() {  # need PACKAGE PROGRAM|ABSOLUTE-PATH...
  local package="$1"; shift
  local program
  for program in "$@"; do
    if [[ "$program" == /* ]]; then
      [[ -e "$program" ]] && continue
    elif command -v "$program" >/dev/null 2>&1; then
      continue
    fi
    missing+=("$package")
    return
  done
}
need cmake cmake
need g++ g++
need make make
need libssl-dev /usr/include/openssl/ssl.h
need openssl openssl
need python3 "$python"
need libbenchmark-dev /usr/include/benchmark/benchmark.h
need curl curl
need lftp lftp
need ncftp ncftpput ncftpget
need vsftpd /usr/sbin/vsftpd
need util-linux unshare mount
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "== installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# --- Build ------------------------------------------------------------------
echo "== building zorvexrun, list_bench and upload_paths (Release) in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DZORVEX_TESTS=OFF -DZORVEX_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target zorvexrun list_bench upload_paths >/dev/null

# --- Compare ----------------------------------------------------------------
cd "$root"
exec "$python" "$root/bench/compare.py" --build "$build" "$@"
