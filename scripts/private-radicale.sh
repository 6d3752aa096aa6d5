#!/usr/bin/env bash
# Runs one command against a private Radicale server and tears it down.
#
#   scripts/private-radicale.sh [--] COMMAND [ARG...]
#
# Radicale (Debian package radicale) listens on a free loopback port, with its
# own storage folder in a fresh temporary directory and no authentication:
# any user name and password are taken. The command sees RADICALE_URL (for
# example http://127.0.0.1:41234/) and PRIVATE_RADICALE_DIR, the temporary
# directory, which it may use for its own files. Its standard output and
# error pass through, and the script ends with its exit status.
#
# Afterwards the server is ended by its process id (SIGTERM, then SIGKILL
# after 5 s) and waited for, and the directory is removed. 125 means the
# server could not be started; a server that had to be killed makes the run
# fail with 125 if the command itself succeeded.
set -euo pipefail

[ "${1:-}" = -- ] && shift
if [ $# -eq 0 ]; then
  echo "usage: private-radicale.sh [--] COMMAND [ARG...]" >&2
  exit 125
fi
# NOTE: Debian's Python, whatever python3 the PATH finds first: Radicale and
# vdirsyncer are installed as its modules.
readonly python=/usr/bin/python3
[ -x /usr/bin/radicale ] || { echo "private-radicale: radicale is missing (Debian: radicale)" >&2; exit 125; }

say() { echo "private-radicale: $*" >&2; }

root=""
server_pid=""
failed=false

finish() {
  local status=$? tries
  trap - EXIT
  set +e
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill -s TERM "$server_pid" 2>/dev/null
    for ((tries = 100; tries > 0; tries--)); do
      kill -0 "$server_pid" 2>/dev/null || break
      sleep 0.05
    done
    if kill -0 "$server_pid" 2>/dev/null; then
      say "the server (pid $server_pid) did not end on SIGTERM; killing it"
      kill -s KILL "$server_pid" 2>/dev/null
      failed=true
    fi
  fi
  [ -n "$server_pid" ] && wait "$server_pid" 2>/dev/null
  [ -n "$root" ] && rm -rf "$root"
  $failed && [ "$status" -eq 0 ] && status=125
  exit "$status"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

root=$(mktemp -d "${TMPDIR:-/tmp}/private-radicale.XXXXXXXX")
mkdir "$root/collections"

# A port the system hands out is free a moment later, nearly always; a
# server that cannot bind it ends at once and the next try takes another.
for attempt in 1 2 3 4 5; do
  port=$("$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  cat >"$root/config" <<CONFIG
[server]
hosts = 127.0.0.1:$port
[auth]
type = none
[rights]
type = authenticated
[storage]
filesystem_folder = $root/collections
[web]
type = none
[logging]
level = error
CONFIG
  "$python" -m radicale --config "$root/config" </dev/null >>"$root/server.log" 2>&1 &
  server_pid=$!
  for ((tries = 200; tries > 0; tries--)); do
    kill -0 "$server_pid" 2>/dev/null || break
    if "$python" -c 'import socket, sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1)' "$port" \
      2>/dev/null; then
      break 2
    fi
    sleep 0.05
  done
  kill -s TERM "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
  [ "$attempt" -lt 5 ] || { say "the server did not start:"; cat "$root/server.log" >&2; exit 125; }
done

status=0
RADICALE_URL="http://127.0.0.1:$port/" PRIVATE_RADICALE_DIR="$root" "$@" || status=$?
exit "$status"
