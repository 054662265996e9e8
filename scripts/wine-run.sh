#!/bin/sh
# Runs a Windows program under wine64, headless and quiet.
#
#   scripts/wine-run.sh prog.exe [args...]
#   scripts/wine-run.sh --fresh   make the prefix anew (stopping its wineserver)
#   scripts/wine-run.sh --stop    stop the prefix's wineserver and wait for it
#   scripts/wine-run.sh --where   print the prefix's path
#
# The prefix is $WINEPREFIX when set; otherwise $ZORVEX_WINE_RUNDIR/prefix
# (default: $TMPDIR/zorvex-wine-<uid>/prefix), made on first use under a lock
# so that parallel test jobs wait for one wineboot instead of racing. A prefix
# this script did not make is used as it is and never removed.
set -eu

WINE_BIN=${WINE_BIN:-/usr/lib/wine/wine64}
WINESERVER_BIN=${WINESERVER_BIN:-/usr/lib/wine/wineserver}
export WINEDEBUG=${WINEDEBUG:--all}
# No .NET or HTML engine installers while the prefix is made.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Never talk to a display.
unset DISPLAY WAYLAND_DISPLAY
# Seconds wineserver (and wine's service processes) stay up after the last
# program: a cold start costs about 0.6 s, a warm one 0.05 s.
persist=${ZORVEX_WINE_PERSIST:-30}

rundir=${ZORVEX_WINE_RUNDIR:-${TMPDIR:-/tmp}/zorvex-wine-$(id -u)}
export WINEPREFIX=${WINEPREFIX:-$rundir/prefix}

stop() {
  if [ -d "$WINEPREFIX" ]; then
    "$WINESERVER_BIN" -k 2>/dev/null || true
    "$WINESERVER_BIN" -w 2>/dev/null || true
  fi
}

# File descriptor 9 holds the lock; the programs started here must not
# inherit it (wineserver would keep it for its whole life).
init() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ -f "$WINEPREFIX/.zorvex-ready" ]; then
      :
    elif [ -f "$WINEPREFIX/system.reg" ] && [ ! -f "$WINEPREFIX/.zorvex-making" ]; then
      : # a prefix made elsewhere: used as it is
    else
      [ -f "$WINEPREFIX/.zorvex-making" ] && rm -rf "$WINEPREFIX"
      mkdir -p "$WINEPREFIX"
      touch "$WINEPREFIX/.zorvex-making"
      "$WINESERVER_BIN" -p"$persist" </dev/null >/dev/null 2>&1 9>&- || true
      "$WINE_BIN" wineboot -i </dev/null >/dev/null 2>&1 9>&-
      # A new prefix reports Windows 7; the program is built for 10 and later.
      "$WINE_BIN" winecfg /v win10 </dev/null >/dev/null 2>&1 9>&-
      touch "$WINEPREFIX/.zorvex-ready"
      rm -f "$WINEPREFIX/.zorvex-making"
    fi
  ) 9>"$WINEPREFIX.lock"
}

case "${1:-}" in
  --fresh)
    if [ -e "$WINEPREFIX" ] && [ ! -f "$WINEPREFIX/.zorvex-ready" ]; then
      echo "wine-run.sh: $WINEPREFIX was not made by this script; not removing it" >&2
      exit 1
    fi
    stop; rm -rf "$WINEPREFIX"; init; exit 0 ;;
  --stop)  stop; exit 0 ;;
  --where) echo "$WINEPREFIX"; exit 0 ;;
  "") echo "usage: wine-run.sh prog.exe [args...]" >&2; exit 2 ;;
esac

# A cold start launches wine's service processes, which inherit the
# program's standard output and error and hold them open until wineserver
# ends: a caller reading the program's output to its end would wait for
# that. So the server and the services are started here, detached.
warm_up() {
  (
    flock 9
    if "$WINESERVER_BIN" -p"$persist" </dev/null >/dev/null 2>&1 9>&-; then
      "$WINE_BIN" cmd.exe /c rem </dev/null >/dev/null 2>&1 9>&- || true
    fi
  ) 9>"$WINEPREFIX.lock"
}

[ -f "$WINEPREFIX/.zorvex-ready" ] || [ -f "$WINEPREFIX/system.reg" ] || init
warm_up
exec "$WINE_BIN" "$@"
