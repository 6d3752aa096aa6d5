#!/usr/bin/env bash
# Runs one command against a private Evolution Data Server and tears it down.
#
#   scripts/private-eds.sh [--log] [--no-services] [--] COMMAND [ARG...]
#
# The command gets a fresh HOME and XDG directories and its own session bus,
# whose only service directory is the system's, so the registry and the two
# factories start on demand by D-Bus activation, as on a desktop. Its standard
# output and error pass through, and the script ends with its exit status.
#
# Afterwards the bus is ended by its process id, every process that the bus
# started (or that the command left behind) is waited for, and the temporary
# directory is removed. Anything that does not end by itself within the grace
# period is ended by its process id, reported on standard error, and makes
# the run fail: status 125 if the command itself succeeded. 125 also means the
# bus could not be started. A run ended by SIGINT, SIGTERM or SIGHUP tears down
# the same way and then ends by that signal.
#
#   --log          keep the bus's and the services' output in services.log in
#                  the temporary directory, and keep that directory (its path
#                  is printed on standard error at the end)
#   --no-services  give the bus an empty service directory: a session without
#                  any EDS installed
#
# The command sees PRIVATE_EDS_DIR, the temporary directory. Every process
# started here carries it in its environment, which is how leftovers are found
# even after they have been re-parented.
#
# shellcheck disable=SC2317  # the teardown runs from a trap
set -euo pipefail

readonly grace_seconds=10     # for the services to end once the bus is gone
readonly command_grace_seconds=5  # for the command to end after a forwarded signal

log_services=false
no_services=false
while [ $# -gt 0 ]; do
  case $1 in
    --log) log_services=true; shift ;;
    --no-services) no_services=true; shift ;;
    --) shift; break ;;
    -*) echo "private-eds: unknown option $1" >&2; exit 125 ;;
    *) break ;;
  esac
done
if [ $# -eq 0 ]; then
  echo "usage: private-eds.sh [--log] [--no-services] [--] COMMAND [ARG...]" >&2
  exit 125
fi
for tool in dbus-daemon dbus-send mktemp; do
  command -v "$tool" >/dev/null || { echo "private-eds: $tool is missing (Debian: dbus)" >&2; exit 125; }
done

say() { echo "private-eds: $*" >&2; }

# --- processes, told apart by pid and start time so that a reused pid is not
# mistaken for one of ours.

# Prints the start time of a live (not zombie) process; fails when it is gone.
start_time() {
  local stat rest
  { stat=$(< "/proc/$1/stat"); } 2>/dev/null || return 1
  rest=${stat##*) }
  # shellcheck disable=SC2086
  set -- $rest
  [ $# -ge 20 ] && [ "$1" != Z ] && [ "$1" != X ] || return 1
  echo "${20}"
}

declare -A tracked=()  # pid -> start time

track() {
  local pid t
  for pid in "$@"; do
    [ "$pid" = "$$" ] && continue
    [ -n "${tracked[$pid]+x}" ] && continue
    t=$(start_time "$pid") && tracked[$pid]=$t
  done
  return 0
}

is_alive() {
  local t
  t=$(start_time "$1") && [ "$t" = "${tracked[$1]}" ]
}

alive_tracked() {
  local pid
  for pid in "${!tracked[@]}"; do
    is_alive "$pid" && echo "$pid"
  done
  return 0
}

describe() {
  local cmd
  { cmd=$(tr '\0' ' ' < "/proc/$1/cmdline"); } 2>/dev/null || cmd="?"
  echo "pid $1 (${cmd% })"
}

# Processes whose environment carries this run's mark.
marked_pids() {
  local file
  grep -lzxF "PRIVATE_EDS_DIR=$root" /proc/[0-9]*/environ 2>/dev/null | while read -r file; do
    file=${file#/proc/}
    echo "${file%/environ}"
  done
  return 0
}

# The processes connected to the bus, as the bus itself reports them.
bus_client_pids() {
  local names name
  names=$(dbus-send --bus="$address" --reply-timeout=2000 --print-reply --dest=org.freedesktop.DBus \
    /org/freedesktop/DBus org.freedesktop.DBus.ListNames 2>/dev/null) || return 0
  sed -n 's/^ *string "\(:[^"]*\)"$/\1/p' <<<"$names" | while read -r name; do
    dbus-send --bus="$address" --reply-timeout=2000 --print-reply --dest=org.freedesktop.DBus \
      /org/freedesktop/DBus org.freedesktop.DBus.GetConnectionUnixProcessID "string:$name" 2>/dev/null |
      sed -n 's/^ *uint32 \([0-9]*\)$/\1/p'
  done
  return 0
}

# Prints the descendants of the given processes, one pid a line.
descendants() {
  local -A inside=()
  local pid parent stat table="" file grown=true
  for pid in "$@"; do inside[$pid]=1; done
  for file in /proc/[0-9]*/stat; do
    { stat=$(< "$file"); } 2>/dev/null || continue
    read -r _ parent _ <<<"${stat##*) }"
    pid=${file#/proc/}
    table+="${pid%/stat} $parent"$'\n'
  done
  while $grown; do
    grown=false
    while read -r pid parent; do
      [ -n "$pid" ] || continue
      if [ -n "${inside[$parent]+x}" ] && [ -z "${inside[$pid]+x}" ]; then
        inside[$pid]=1
        echo "$pid"
        grown=true
      fi
    done <<<"$table"
  done
}

# Tracks every process of this run that can be found: marked ones, the bus's
# clients unless "$1" is "local", and all their descendants.
collect() {
  local -a pids
  mapfile -t pids < <(marked_pids)
  track "${pids[@]}"
  if [ -n "$address" ] && [ "${1:-}" != local ]; then
    mapfile -t pids < <(bus_client_pids)
    track "${pids[@]}"
  fi
  mapfile -t pids < <(descendants "${!tracked[@]}")
  track "${pids[@]}"
}

# Waits until none of the tracked processes is alive, at most $1 seconds.
# Looks for newcomers about once a second, which is the costly part.
wait_for_tracked() {
  local deadline=$((SECONDS + $1)) round=0
  while [ -n "$(alive_tracked)" ]; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.05
    ((++round % 20 == 0)) && collect
  done
  return 0
}

# Ends one process by its pid: the signal, then SIGKILL after $3 seconds. A
# stopped process is continued so that it can act on the signal.
end_process() {
  local pid=$1 signal=$2 patience=$3 tries
  kill -s "$signal" "$pid" 2>/dev/null || return 0
  kill -s CONT "$pid" 2>/dev/null || true
  for ((tries = patience * 20; tries > 0; tries--)); do
    is_alive "$pid" || return 0
    sleep 0.05
  done
  kill -s KILL "$pid" 2>/dev/null || true
}

# --- the run

root=""
address=""
bus_pid=""
command_pid=""
command_status=""
signal_received=""
signal_count=0
launching=false

finish() {
  local status=$? failed=false pid survivors
  trap - EXIT INT TERM HUP
  set +e
  [ -n "$command_status" ] && status=$command_status
  if [ -z "$root" ]; then
    [ -n "$signal_received" ] && kill -s "$signal_received" $$
    exit "$status"
  fi

  if [ -n "$command_pid" ] && [ -z "$command_status" ]; then
    end_process "$command_pid" TERM "$command_grace_seconds"
  fi
  if [ -n "$bus_pid" ]; then
    track "$bus_pid"
    collect local
    # A test may have stopped the bus or a service on purpose; that is no
    # fault, but a stopped process cannot act on the bus going away.
    for pid in $(alive_tracked); do kill -s CONT "$pid" 2>/dev/null; done
    collect
    end_process "$bus_pid" TERM 5
    wait "$bus_pid" 2>/dev/null
    address=""
    collect
  fi
  if [ -n "$signal_received" ]; then
    # An interrupted command may leave its children; end them without a word.
    wait_for_tracked 1 || for pid in $(alive_tracked); do end_process "$pid" TERM 2; done
  elif ! wait_for_tracked "$grace_seconds"; then
    failed=true
    for pid in $(alive_tracked); do
      say "$(describe "$pid") still runs ${grace_seconds} s after the bus ended; ending it"
      end_process "$pid" TERM 2
    done
  fi
  collect
  survivors=$(alive_tracked)
  if [ -n "$survivors" ]; then
    failed=true
    for pid in $survivors; do say "$(describe "$pid") could not be ended"; done
  fi

  if $log_services; then
    say "kept $root (services.log)"
  else
    rm -rf "$root"
  fi
  if $failed && [ "$status" -eq 0 ]; then
    status=125
  fi
  if [ -n "$signal_received" ]; then
    kill -s "$signal_received" $$
  fi
  exit "$status"
}
trap finish EXIT

# The command and everything it started get SIGTERM, whatever the signal
# was: a just-forked shell still ignores SIGINT for a moment, and a terminal's
# SIGINT reaches them anyway.
signal_command() {
  local -a tree
  mapfile -t tree < <(descendants "$command_pid")
  kill -s TERM "$command_pid" "${tree[@]}" 2>/dev/null || true
}

on_signal() {
  signal_received=$1
  signal_count=$((signal_count + 1))
  if [ -n "$command_pid" ]; then
    signal_command
  elif ! $launching; then
    exit 1  # finish() tears down
  fi
}
trap 'on_signal INT' INT
trap 'on_signal TERM' TERM
trap 'on_signal HUP' HUP

root=$(mktemp -d "${TMPDIR:-/tmp}/private-eds.XXXXXXXX")
if [ ${#root} -gt 90 ]; then  # a socket path must fit in 108 bytes
  rmdir "$root"
  root=$(mktemp -d /tmp/private-eds.XXXXXXXX)
fi

mkdir -m 0700 "$root/home" "$root/config" "$root/data" "$root/cache" "$root/runtime" "$root/services"
service_dir=/usr/share/dbus-1/services
$no_services && service_dir=$root/services
cat >"$root/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$root/bus</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$service_dir</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF

# What the bus, the services it starts and the command all see. GIO_USE_VFS
# keeps gvfs from being activated; a display is no business of the services.
environment=(
  "HOME=$root/home"
  "XDG_CONFIG_HOME=$root/config"
  "XDG_DATA_HOME=$root/data"
  "XDG_CACHE_HOME=$root/cache"
  "XDG_RUNTIME_DIR=$root/runtime"
  "GSETTINGS_BACKEND=memory"
  "GIO_USE_VFS=local"
  "PRIVATE_EDS_DIR=$root"
)
unset_variables=(-u DBUS_SESSION_BUS_ADDRESS -u DBUS_STARTER_ADDRESS -u DBUS_STARTER_BUS_TYPE
  -u DISPLAY -u WAYLAND_DISPLAY)

services_output=/dev/null
$log_services && services_output=$root/services.log
: >"$root/address"
env "${unset_variables[@]}" "${environment[@]}" \
  dbus-daemon --config-file="$root/bus.conf" --nofork --nopidfile --nosyslog --print-address=3 \
  3>"$root/address" </dev/null >>"$services_output" 2>&1 &
bus_pid=$!

# The address is printed once the bus listens.
for ((tries = 200; tries > 0; tries--)); do
  read -r address <"$root/address" || true
  [ -n "$address" ] && break
  if ! kill -0 "$bus_pid" 2>/dev/null; then
    say "the bus did not start (try --log)"
    exit 125
  fi
  sleep 0.05
done
if [ -z "$address" ]; then
  say "the bus printed no address within 10 s"
  exit 125
fi

# Run in the background so that a signal to this script is acted on at once;
# the command gets this script's standard input (or /dev/null if there is
# none) and default signal handling.
{ exec 3<&0; } 2>/dev/null || exec 3</dev/null
launching=true
(
  trap - INT QUIT TERM HUP
  exec env "${unset_variables[@]}" "${environment[@]}" "DBUS_SESSION_BUS_ADDRESS=$address" "$@"
) <&3 3<&- &
command_pid=$!
launching=false
exec 3<&-
track "$command_pid"
[ "$signal_count" -eq 0 ] || signal_command

while :; do
  signals_before=$signal_count
  status=0
  wait "$command_pid" 2>/dev/null || status=$?
  if ! is_alive "$command_pid"; then
    # A signal may have cut the wait short just as the command ended: the
    # shell keeps the status of its reaped children, so ask again.
    if [ "$signal_count" -ne "$signals_before" ]; then
      status=0
      wait "$command_pid" 2>/dev/null || status=$?
    fi
    command_status=$status
    break
  fi
  # A signal interrupted the wait and was passed on; give the command its
  # grace period, then end it.
  end_process "$command_pid" TERM "$command_grace_seconds"
done
exit "$command_status"
