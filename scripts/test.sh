#!/usr/bin/env bash
# The test command: on a Debian 12 machine, as root, installs what the build
# and the tests need, builds, and runs the whole test suite. The last thing it
# prints is ctest's summary; the exit status is non-zero on any failure.
#
#   bash scripts/test.sh              # build/ and its tests
#   ZORVEX_FULL=1 bash scripts/test.sh  # first the sanitizer build and its
#                                       # tests, and the fuzzers, then as above
#
# With CI=true the full run is the default and warnings are errors.
# Settings (environment):
#   ZORVEX_FULL=0|1        run the extra stages (default: 1 when CI=true)
#   ZORVEX_FUZZ_SECONDS=N  seconds per fuzz target in the full run (default 30;
#                          0 skips fuzzing)
#   ZORVEX_JOBS=N          parallel compile jobs (default 2)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

ci="${CI:-false}"
full="${ZORVEX_FULL:-}"
if [[ -z "$full" ]]; then
  [[ "$ci" == true ]] && full=1 || full=0
fi
jobs="${ZORVEX_JOBS:-2}"
fuzz_seconds="${ZORVEX_FUZZ_SECONDS:-30}"
werror=OFF
[[ "$ci" == true ]] && werror=ON

# The two slow checks (a file past 4 GiB, a million-entry listing) run only
# when asked for through their variables; otherwise they are left out of the
# run rather than reported as skipped.
ctest_args=(--output-on-failure)
if [[ -z "${ZORVEX_LARGE_FILE_MB:-}" || -z "${ZORVEX_LARGE_LISTING:-}" ]]; then
  large=()
  [[ -z "${ZORVEX_LARGE_FILE_MB:-}" ]] && large+=(LargeFile)
  [[ -z "${ZORVEX_LARGE_LISTING:-}" ]] && large+=(VeryLargeListing)
  ctest_args+=(-E "$(IFS='|'; echo "${large[*]}")")
fi

step() { printf '\n== %s\n' "$*"; }

# --- Packages ---------------------------------------------------------------
packages=(
  cmake make g++ clang libclang-rt-14-dev libssl-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  python3 python3-pyftpdlib python3-openssl vsftpd openssl tcpdump
  iproute2 procps dpkg-dev file
)

install_packages() {
  local missing=() p
  for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [[ ${#missing[@]} -eq 0 ]] && return 0
  step "installing: ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then
    echo "run as root to install the missing packages: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# --- Port 21 on loopback ----------------------------------------------------
# The end-to-end tests start their own servers on port 21 of 127.0.0.x. A
# system FTP daemon (Debian's vsftpd package may start one on install) holds
# that port on every address; stop it. Test servers are never touched: they
# always run with a configuration file under /tmp.
# The init script's own pid file, naming a live vsftpd that is no test
# server. (The script's "status" asks pidof, which finds any vsftpd, the test
# servers of a concurrent run included, so it cannot tell.)
init_script_vsftpd_running() {
  local pidfile=/var/run/vsftpd/vsftpd.pid pid
  [[ -r "$pidfile" ]] || return 1
  pid="$(tr -dc '0-9' <"$pidfile")"
  [[ -n "$pid" && "$(readlink "/proc/$pid/exe" 2>/dev/null)" == */vsftpd ]] ||
    return 1
  ! tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q ' /tmp/'
}

free_ftp_port() {
  # systemd's view counts only where systemd runs the machine.
  if [[ -d /run/systemd/system ]] && command -v systemctl >/dev/null 2>&1 &&
     systemctl is-active --quiet vsftpd 2>/dev/null; then
    step "stopping the system vsftpd service"
    systemctl stop vsftpd || true
  elif [[ -x /etc/init.d/vsftpd ]] && init_script_vsftpd_running; then
    step "stopping the system vsftpd service"
    /etc/init.d/vsftpd stop >/dev/null 2>&1 || true
  fi
  local pid args
  for pid in $(pgrep -x vsftpd || true); do
    args="$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null || true)"
    case "$args" in
      *" /tmp/"*) ;;  # a test server
      *)
        echo "stopping the system vsftpd (pid $pid: $args)"
        kill "$pid" 2>/dev/null || true
        ;;
    esac
  done
  if command -v ss >/dev/null 2>&1; then
    local holders
    holders="$(ss -Hltn 'sport = :21' 2>/dev/null |
               awk '$4 !~ /^127\./ && $4 !~ /^\[::1\]/ {print $4}' || true)"
    if [[ -n "$holders" ]]; then
      echo "warning: port 21 is held on $holders; the end-to-end tests need" \
           "it free on 127.0.0.x" >&2
    fi
  fi
}

# --- Stages -----------------------------------------------------------------
configure_and_build() {  # <build dir> <cmake options...>
  local dir="$1"
  shift
  cmake -S "$root" -B "$dir" -DZORVEX_WERROR="$werror" "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
}

sanitizer_stage() {
  step "AddressSanitizer and UndefinedBehaviorSanitizer build (build-asan)"
  configure_and_build "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_COMPILER=clang++ -DZORVEX_SANITIZE=ON -DZORVEX_BENCH=OFF
  step "tests under the sanitizers"
  # Reports go to files, so that one from a program a test runs (whose exit
  # status the test may take for an expected failure) is not lost; any
  # report fails the stage. Exit code 86 is used by no program here.
  local reports="$root/build-asan/sanitizer-reports" status=0
  rm -rf "$reports"
  mkdir -p "$reports"
  ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:exitcode=86:log_path=$reports/asan" \
  UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=86:log_path=$reports/ubsan" \
    ctest --test-dir "$root/build-asan" "${ctest_args[@]}" || status=$?
  if compgen -G "$reports/*" >/dev/null; then
    echo "sanitizer reports:" >&2
    local f
    for f in "$reports"/*; do
      echo "--- $f" >&2
      head -n 60 "$f" >&2
    done
    return 1
  fi
  return "$status"
}

fuzz_stage() {
  [[ "$fuzz_seconds" -gt 0 && -f "$root/scripts/fuzz.sh" ]] || return 0
  step "fuzzing, ${fuzz_seconds} s per target (build-fuzz)"
  bash "$root/scripts/fuzz.sh" "$fuzz_seconds"
}

main_stage() {
  step "build (build)"
  configure_and_build "$root/build"
  step "tests"
  ctest --test-dir "$root/build" "${ctest_args[@]}"
}

# The Windows build, its tests under wine and its zip (CI, or
# ZORVEX_WINDOWS=1): see scripts/windows.sh.
windows_stage() {
  [[ "$ci" == true || "${ZORVEX_WINDOWS:-0}" == 1 ]] || return 0
  step "Windows build and tests under wine (build-windows, build-e2e-windows)"
  ZORVEX_JOBS="$jobs" bash "$root/scripts/windows.sh"
}

# The Debian package: built, checked, installed and tried (CI, or
# ZORVEX_PACKAGE=1): see scripts/package.sh.
package_stage() {
  [[ "$ci" == true || "${ZORVEX_PACKAGE:-0}" == 1 ]] || return 0
  step "Debian package: build, dpkg -i, one transfer (build-deb)"
  ZORVEX_JOBS="$jobs" ZORVEX_WERROR="$werror" bash "$root/scripts/package.sh"
}

install_packages
free_ftp_port
if [[ "$full" == 1 ]]; then
  sanitizer_stage
  fuzz_stage
fi
package_stage
main_stage
windows_stage
