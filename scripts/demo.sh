#!/usr/bin/env bash
# Demonstration of zorvexrun on this machine alone: installs what is missing
# (Debian packages), builds zorvexrun into build-demo, starts an FTP server on
# 127.0.0.1 with a temporary root, uploads a file with "/p", downloads it back
# with "/g", shows each run's exit status and log line, compares the bytes, and
# stops the server. Nothing leaves the loopback interface.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZORVEX_DEMO_BUILD:-$root/build-demo}"
python=/usr/bin/python3

# --- What the demonstration needs ------------------------------------------
missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
command -v make >/dev/null 2>&1 || missing+=(make)
[[ -e /usr/include/openssl/ssl.h ]] || missing+=(libssl-dev)
[[ -x "$python" ]] || missing+=(python3)
if [[ -x "$python" ]] && ! "$python" -c 'import pyftpdlib' >/dev/null 2>&1; then
  missing+=(python3-pyftpdlib)
elif [[ ! -x "$python" ]]; then
  missing+=(python3-pyftpdlib)
fi
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "== installing: ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then
    echo "run as root to install the missing packages: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# --- Build -------------------------------------------------------------------
echo "== building zorvexrun in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZORVEX_TESTS=OFF -DZORVEX_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target zorvexrun >/dev/null
exe="$build/app/zorvexrun"

# --- A server on loopback with a temporary root ------------------------------
work="$(mktemp -d /tmp/zorvex-demo-XXXXXX)"
source "$root/scripts/loopback_ftpd.sh"
trap loopback_ftpd_cleanup EXIT

mkdir -p "$work/app" "$work/data" "$work/download"
user=demo
loopback_ftpd_start "$user" "$work/ftpd.log"
echo "== FTP server (pyftpdlib) on 127.0.0.1:$port, root $work/ftproot"

# --- zorvexrun beside its settings file --------------------------------------
cp "$exe" "$work/app/zorvexrun"
# host (with the port suffix), user, password, binary, passive, reserved
printf '127.0.0.1:%s,%s,%s,1,1,\r\n' "$port" "$user" "$password" \
  >"$work/app/zorvex"
echo "== settings file $work/app/zorvex: 127.0.0.1:$port,$user,<password>,1,1,"

{ echo "zorvexrun demonstration file"; head -c 65536 /dev/urandom; } \
  >"$work/data/hello.bin"

failed=0
run() {
  local expect="$1"; shift
  echo
  echo "\$ zorvexrun $*"
  local status=0
  (cd "$work" && "$work/app/zorvexrun" "$@") || status=$?
  echo "exit status: $status"
  echo "run log:     $(tr -d '\r' <"$work/app/zorvexlog.txt")"
  if [[ "$status" -ne "$expect" ]]; then
    echo "!! expected exit status $expect" >&2
    failed=1
  fi
}
same() {
  if cmp -s "$1" "$2"; then
    echo "bytes:       $2 is identical to $1 ($(stat -c %s "$2") bytes)"
  else
    echo "!! $2 differs from $1" >&2
    failed=1
  fi
}

run 0 "/p $work/data/hello.bin,/hello.bin"
same "$work/data/hello.bin" "$work/ftproot/hello.bin"

run 0 "/g /hello.bin,$work/download/"
same "$work/data/hello.bin" "$work/download/hello.bin"

# A failure is reported on standard error and in the exit status; -v shows
# the dialogue (the password as ****) and the failure's cause.
run 6 "/g /no-such-file.bin,$work/download/"
run 6 -v "/g /no-such-file.bin,$work/download/"

echo
if [[ "$failed" -ne 0 ]]; then
  echo "== demonstration FAILED" >&2
  exit 1
fi
echo "== demonstration done; stopping the server and removing $work"
