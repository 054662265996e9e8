#!/usr/bin/env bash
# The Debian package, built and tried: configures a Release build for /usr in
# build-deb/, makes the .deb with `cpack -G DEB`, checks its contents with
# `dpkg-deb -c`, installs it with `dpkg -i`, and runs one upload and one
# download with the installed /usr/bin/zorvexrun against a pyftpdlib server
# on 127.0.0.1 (a free port, a temporary root), comparing the bytes. Run as
# root (dpkg -i); scripts/test.sh runs it in CI.
#
#   bash scripts/package.sh            # build, check, install, try
#   ZORVEX_PACKAGE_INSTALL=0 bash scripts/package.sh   # build and check only
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZORVEX_PACKAGE_BUILD:-$root/build-deb}"
jobs="${ZORVEX_JOBS:-2}"
install="${ZORVEX_PACKAGE_INSTALL:-1}"
python=/usr/bin/python3

echo "== Debian package ($build)"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX=/usr -DZORVEX_TESTS=OFF -DZORVEX_BENCH=OFF \
  -DZORVEX_WERROR="${ZORVEX_WERROR:-OFF}" >/dev/null
cmake --build "$build" -j"$jobs" >/dev/null
rm -f "$build"/zorvexrun_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb="$(ls "$build"/zorvexrun_*.deb)"
echo "built $deb"

contents="$(dpkg-deb -c "$deb")"
for want in ./usr/bin/zorvexrun ./usr/share/man/man1/zorvexrun.1 \
            /libzorvex_ftp.a /libzorvex_inet.a /zorvexConfig.cmake \
            ./usr/include/zorvex/ftp/nimbrel.h \
            ./usr/share/doc/zorvexrun/zorvex \
            ./usr/share/doc/zorvexrun/README.Debian; do
  if ! grep -qF -- "$want" <<<"$contents"; then
    echo "the package lacks $want:" >&2
    echo "$contents" >&2
    exit 1
  fi
done
echo "contents: executable, man page, libraries, headers, CMake package, sample settings"
dpkg-deb -f "$deb" Package Version Depends

[[ "$install" == 1 ]] || exit 0
if [[ $(id -u) -ne 0 ]]; then
  echo "run as root to install the package" >&2
  exit 1
fi
dpkg -i "$deb" >/dev/null
installed=/usr/bin/zorvexrun
echo "installed: $("$installed" --version)"
man -w zorvexrun >/dev/null 2>&1 || [[ -f /usr/share/man/man1/zorvexrun.1 ]]

work="$(mktemp -d /tmp/zorvex-package-XXXXXX)"
source "$root/scripts/loopback_ftpd.sh"
trap loopback_ftpd_cleanup EXIT
mkdir -p "$work/job" "$work/data" "$work/in"
user=pkg
loopback_ftpd_start "$user"
printf '127.0.0.1:%s,%s,%s,1,1,\r\n' "$port" "$user" "$password" \
  >"$work/job/zorvex"
head -c 300000 /dev/urandom >"$work/data/a.bin"

# The installed program with a job folder: through -c where the program has
# it, else as a copy beside the settings file (it reads its settings beside
# itself).
if "$installed" --help | grep -q -- '--settings'; then
  run() { (cd "$work" && "$installed" -c "$work/job/zorvex" "$@"); }
  how="$installed -c $work/job/zorvex"
else
  cp "$installed" "$work/job/zorvexrun"
  run() { (cd "$work" && "$work/job/zorvexrun" "$@"); }
  how="a copy of $installed in $work/job"
fi
echo "== one upload and one download with $how"
run "/p $work/data/a.bin,/a.bin"
run "/g /a.bin,$work/in/"
cmp "$work/data/a.bin" "$work/ftproot/a.bin"
cmp "$work/data/a.bin" "$work/in/a.bin"
tr -d '\r' <"$work/job/zorvexlog.txt" | grep -q ' - End='
echo "upload and download with the installed program: bytes equal, log written"
