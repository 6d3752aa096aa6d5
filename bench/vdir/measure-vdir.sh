#!/usr/bin/env bash
# Measures `pimbridge reminders` and `pimbridge contacts` on the vdir backend
# against pimbridge_vdir_bare_reader (the same files read with the same
# libraries, in C, without the tool's bounds and threads), against what a
# user would run instead (todoman's and khard's listings of the same
# folders), and how the tool's time grows with the number of task files:
#
#   bash bench/vdir/measure-vdir.sh [BUILD_DIR]
#
# BUILD_DIR (default build/vdir-bench) is a build configured with
# -DPIMBRIDGE_PLATFORM=vdir -DPIMBRIDGE_BENCH=ON in which the targets
# pimbridge, pimbridge_vdir_bare_reader and pimbridge_startup_pair are built.
# Needs Debian's todoman and khard. Floating times and dates are read in
# TZ=Europe/Berlin. VDIR_PAIRS (default 100) runs of each program per pair.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/vdir-bench}" && pwd)
pairs=${VDIR_PAIRS:-100}
tool=$build/src/pimbridge
bare=$build/bench/pimbridge_vdir_bare_reader
pair=$build/bench/pimbridge_startup_pair
for program in "$tool" "$bare" "$pair" /usr/bin/todoman /usr/bin/khard; do
  [ -x "$program" ] || { echo "measure-vdir: $program is missing" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=Europe/Berlin HOME=$work/home
mkdir -p "$HOME"

# Median wall time, in milliseconds, of RUNS runs of a command.
median_ms() {
  local runs=$1 start end
  shift
  local -a times=()
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    times+=($(((end - start) / 1000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.1f", a[int((NR+1)/2)]/1000}'
}

echo "== 1,000 tasks in 3 lists, 600 cards (500 answered); ${pairs} alternating pairs"
/usr/bin/python3 "$root/bench/vdir/generate.py" "$work/small" 3 1000 600
export PIMBRIDGE_VDIR_TASKS=$work/small/tasks PIMBRIDGE_VDIR_CONTACTS=$work/small/contacts/book
rows=$("$tool" reminders | /usr/bin/python3 -c 'import json,sys; print(len(json.load(sys.stdin)["reminders"]))')
cards=$("$tool" contacts | /usr/bin/python3 -c 'import json,sys; print(len(json.load(sys.stdin)["contacts"]))')
echo "pimbridge answers $rows reminders and $cards contacts"
echo "-- reminders: A = pimbridge, B = bare reader"
"$pair" "$pairs" -- "$tool" reminders -- "$bare" tasks "$PIMBRIDGE_VDIR_TASKS"
echo "-- contacts: A = pimbridge, B = bare reader"
"$pair" "$pairs" -- "$tool" contacts -- "$bare" contacts "$PIMBRIDGE_VDIR_CONTACTS"

cat >"$work/todoman.py" <<CONFIG
path = "$work/small/tasks/*"
cache_path = "$work/todoman.sqlite3"
date_format = "%Y-%m-%d"
time_format = "%H:%M"
default_list = "list-00"
CONFIG
cat >"$work/khard.conf" <<CONFIG
[addressbooks]
[[book]]
path = $work/small/contacts/book
CONFIG
/usr/bin/todoman --config "$work/todoman.py" --porcelain list --status ANY >/dev/null  # fills its cache
echo "-- peers (median of 5 runs, ms; todoman with its cache filled)"
echo "todoman $(dpkg-query -W -f='${Version}' todoman), khard $(dpkg-query -W -f='${Version}' khard)"
t_tool=$(median_ms 5 "$tool" reminders)
t_todo=$(median_ms 5 /usr/bin/todoman --config "$work/todoman.py" --porcelain list --status ANY)
c_tool=$(median_ms 5 "$tool" contacts)
c_khard=$(median_ms 5 /usr/bin/khard -c "$work/khard.conf" list --parsable)
echo "pimbridge reminders $t_tool   todoman --porcelain list $t_todo   ratio $(awk "BEGIN {printf \"%.3f\", $t_tool / $t_todo}")"
echo "pimbridge contacts  $c_tool   khard list --parsable    $c_khard   ratio $(awk "BEGIN {printf \"%.3f\", $c_tool / $c_khard}")"

echo "== growth: task files over 10 lists (median of 5 runs, ms)"
printf '%8s %10s %12s %12s\n' files "rows read" pimbridge "bare reader"
for files in 1000 10000 100000; do
  rm -rf "$work/grow"
  /usr/bin/python3 "$root/bench/vdir/generate.py" "$work/grow" 10 "$files" 0
  export PIMBRIDGE_VDIR_TASKS=$work/grow/tasks
  rows=$("$tool" reminders | /usr/bin/python3 -c 'import json,sys; print(len(json.load(sys.stdin)["reminders"]))')
  printf '%8s %10s %12s %12s\n' "$files" "$rows" "$(median_ms 5 "$tool" reminders)" \
    "$(median_ms 5 "$bare" tasks "$PIMBRIDGE_VDIR_TASKS")"
done
