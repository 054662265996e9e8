#!/usr/bin/env bash
# The Windows build, from a Debian 12 machine: cross-compiles zorvexrun.exe
# and the library with Debian's MinGW-w64, runs the Windows tests under
# wine64, and makes the zip. As root it installs what is missing.
#
#   bash scripts/windows.sh              # build, test under wine, zip
#   bash scripts/windows.sh --no-tests   # build and zip only
#
# Results:
#   build-windows/app/zorvexrun.exe
#   build-windows/zorvexrun-<version>-win64.zip
#
# Steps:
#   1. GoogleTest and GoogleMock cross-built from Debian's googletest source
#      package (/usr/src/googletest) into build-windows/googletest/.
#   2. The project cross-built into build-windows/ (Release,
#      cmake/mingw-w64-x86_64.cmake): zorvexrun.exe, the libraries with their
#      CMake package, the unit tests.
#   3. The zip (cpack).
#   4. The unit tests under wine64 (ctest; each test program runs through
#      scripts/wine-run.sh), in a fresh wine prefix in a temporary folder
#      (WINEDEBUG=-all).
#   5. The end-to-end tests: build-e2e-windows/ is a Linux build of the test
#      servers' support and of tests/windows_e2e/, which runs zorvexrun.exe
#      under wine64 against pyftpdlib, vsftpd and the fault-injecting server
#      on loopback. Its ctest summary is the last thing printed.
# Settings (environment): ZORVEX_JOBS=N parallel jobs (default 2); CI=true
# makes warnings errors.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

tests=1
case "${1:-}" in
  "") ;;
  --no-tests) tests=0 ;;
  *) echo "usage: bash scripts/windows.sh [--no-tests]" >&2; exit 2 ;;
esac
jobs="${ZORVEX_JOBS:-2}"
werror=OFF
[[ "${CI:-false}" == true ]] && werror=ON
build="$root/build-windows"
e2e="$root/build-e2e-windows"
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
started=$SECONDS

step() { printf '\n== %s (%d s)\n' "$*" $((SECONDS - started)); }

# --- Packages ---------------------------------------------------------------
packages=(cmake ninja-build g++-mingw-w64-x86-64-posix wine64)
if [[ $tests == 1 ]]; then
  # The end-to-end tests' Linux side: the servers and the support that
  # starts them.
  packages+=(googletest make g++ libgtest-dev libgmock-dev libssl-dev python3
             python3-pyftpdlib vsftpd iproute2 procps)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  step "installing: ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then
    echo "run as root to install the missing packages: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null ||
    { apt-get update -qq && apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null; }
fi

# --- A wine prefix ----------------------------------------------------------
# One fresh prefix for the whole run (the build lists the tests through it
# too), removed with its server stopped at the end. It is made while
# GoogleTest builds; its first user waits for it.
if [[ $tests == 1 ]]; then
  ZORVEX_WINE_RUNDIR="$(mktemp -d "${TMPDIR:-/tmp}/zorvex-wine.XXXXXX")"
  export ZORVEX_WINE_RUNDIR WINEDEBUG=-all
  unset WINEPREFIX
  trap '"$root/scripts/wine-run.sh" --stop; rm -rf "$ZORVEX_WINE_RUNDIR"' EXIT
  step "a wine prefix (in the background)"
  "$root/scripts/wine-run.sh" --fresh &
  prefix_job=$!
fi

# --- GoogleTest for Windows -----------------------------------------------
gtest_src=/usr/src/googletest
gtest="$build/googletest"
gtest_version="$(dpkg-query -W -f='${Version}' googletest 2>/dev/null || true)"
if [[ $tests == 1 && ( ! -f "$gtest/install/.version" ||
      "$(cat "$gtest/install/.version")" != "$gtest_version" ) ]]; then
  step "GoogleTest $gtest_version for Windows (build-windows/googletest)"
  rm -rf "$gtest"
  cmake -S "$gtest_src" -B "$gtest/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$gtest/install" -DBUILD_GMOCK=ON \
    -DINSTALL_GTEST=ON -DBUILD_SHARED_LIBS=OFF >/dev/null
  cmake --build "$gtest/build" -j"$jobs" >/dev/null
  cmake --install "$gtest/build" >/dev/null
  echo "$gtest_version" >"$gtest/install/.version"
fi

# --- The project for Windows ----------------------------------------------
if [[ $tests == 1 ]]; then
  wait "$prefix_job" || { echo "the wine prefix could not be made" >&2; exit 1; }
fi
step "zorvexrun.exe and the library for Windows (build-windows)"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_PREFIX_PATH="$gtest/install" -DCMAKE_BUILD_TYPE=Release \
  -DZORVEX_WERROR="$werror" -DZORVEX_BENCH=OFF \
  -DZORVEX_TESTS="$([[ $tests == 1 ]] && echo ON || echo OFF)" >/dev/null
cmake --build "$build" -j"$jobs"

step "the zip"
(cd "$build" && cpack >/dev/null)
zip="$build/zorvexrun-$(sed -n 's/^project(zorvexrun VERSION \([0-9.]*\).*/\1/p' \
  "$root/CMakeLists.txt")-win64.zip"
[[ -f "$zip" ]] || { echo "no zip made" >&2; exit 1; }
echo "$zip"

if [[ $tests == 1 ]]; then
  step "unit tests under wine"
  ctest --test-dir "$build" -j"$jobs" --output-on-failure

  step "the end-to-end tests' Linux side (build-e2e-windows)"
  cmake -S "$root" -B "$e2e" -DZORVEX_WERROR="$werror" -DZORVEX_BENCH=OFF \
    -DZORVEX_WINDOWS_EXE="$build/app/zorvexrun.exe" >/dev/null
  cmake --build "$e2e" -j"$jobs" --target windows_e2e_tests
  step "zorvexrun.exe end to end under wine"
  ctest --test-dir "$e2e" -R '^wine\.' -j"$jobs" --output-on-failure
fi

