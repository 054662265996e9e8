# A pyftpdlib server on 127.0.0.1 for the demonstration and the package
# check, sourced by them: a free port, the root "$work/ftproot", one account
# with a fresh password that is never shown. The caller sets $root (the
# repository), $python and $work (a temporary folder of its own), and calls
# loopback_ftpd_cleanup on exit, which stops the server and removes $work.

server_pid=""

loopback_ftpd_cleanup() {
  if [[ -n "$server_pid" ]]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}

# loopback_ftpd_start USER [LOGFILE]: sets $port and $password, or exits.
loopback_ftpd_start() {
  local user="$1" log="${2:-}"
  password="$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')"
  mkdir -p "$work/ftproot"
  "$python" "$root/tests/support/pyftpd.py" --address 127.0.0.1 --port 0 \
    --root "$work/ftproot" --user "$user" --password "$password" \
    ${log:+--log "$log"} >"$work/port" 2>"$work/ftpd.err" &
  server_pid=$!
  port=""
  local _
  for _ in $(seq 1 100); do
    port="$(head -n 1 "$work/port" 2>/dev/null || true)"
    [[ -n "$port" ]] && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [[ -z "$port" ]]; then
    echo "the FTP server did not start:" >&2
    cat "$work/ftpd.err" >&2
    exit 1
  fi
}
