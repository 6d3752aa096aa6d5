#!/usr/bin/env bash
# Measures `pimbridge reminders` and `pimbridge contacts` on the EDS backend
# against pimbridge_eds_bare_reader, a C program that makes the same library
# calls, as whole processes on the same data:
#
#   bash bench/eds/measure-eds.sh [BUILD_DIR]
#
# BUILD_DIR (default build/eds) is a build configured with
# -DPIMBRIDGE_PLATFORM=eds -DPIMBRIDGE_BENCH=ON in which the targets pimbridge,
# pimbridge_eds_bare_reader and pimbridge_startup_pair are built. The seeding
# program (tests/platform/eds) is built in BUILD_DIR/eds-seed when it is not
# there yet, or taken from EDS_SEED.
#
# Needs the Debian packages evolution-data-server, dbus, python3, and to build
# the seeding program libecal2.0-dev, libebook1.2-dev, libedataserver1.2-dev
# and nlohmann-json3-dev.
#
# The data: three task lists holding 1,000 tasks (due dates zoned in four
# zones, in UTC, floating and as dates, or none; about a third completed;
# titles in several scripts) with the built-in list switched off, and 600
# cards in the default address book (so that the tool's cap of 500 applies),
# with zero to three phones and zero to two e-mail addresses. Seeded once, in
# a private EDS of its own; every later EDS starts from a copy of its files.
#
# 1. Cold start: for each program and command, the first run in a fresh
#    private EDS, where nothing has started the registry or the factories yet:
#    that run starts them, by D-Bus activation. EDS_COLD_RUNS times each
#    (default 3), alternating which program goes first.
# 2. Warm: one private EDS; each program runs each command a few times, their
#    answers must be the same JSON value (and hold 1,000 reminders and 500
#    contacts), as must every cold run's; then pimbridge_startup_pair
#    alternates tool and bare reader EDS_PAIRS times (default 200) per
#    command, EDS_ROUNDS times (default 3).
#
# Floating times and dates are read in TZ=Europe/Berlin by both programs.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/eds}" && pwd)
pairs=${EDS_PAIRS:-200}
rounds=${EDS_ROUNDS:-3}
cold_runs=${EDS_COLD_RUNS:-3}
tool=$build/src/pimbridge
bare=$build/bench/pimbridge_eds_bare_reader
pair=$build/bench/pimbridge_startup_pair
for program in "$tool" "$bare" "$pair"; do
  [ -x "$program" ] || { echo "measure-eds: $program is missing; build it first" >&2; exit 1; }
done
for program in python3 dbus-daemon; do
  command -v "$program" >/dev/null || { echo "measure-eds: $program is missing" >&2; exit 1; }
done
seed=${EDS_SEED:-$build/eds-seed/eds_seed}
if [ ! -x "$seed" ]; then
  cmake -S "$root/tests/platform/eds" -B "$build/eds-seed" -G Ninja >/dev/null
  cmake --build "$build/eds-seed" >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=Europe/Berlin
export MEASURE_TOOL=$tool MEASURE_BARE=$bare MEASURE_PAIR=$pair MEASURE_WORK=$work

load() { echo "load: $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min)"; }

echo "== machine"
lscpu | grep -E '^(Model name|CPU\(s\)|Thread\(s\) per core)' || true
grep -m1 MemTotal /proc/meminfo || true
load

# --- the data

python3 - "$work/scenario.json" <<'PY'
import json, sys

words = ["Milch", "kaufen", "Zürich", "Straße", "café", "naïve", "Ångström", "日本語", "会議", "准备",
         "🎉", "👍🏽", "Steuer", "report", "call", "Éléonore", "plan", "Ærø", "ok", "Привет"]
zones = ["Europe/Berlin", "America/New_York", "Asia/Tokyo", "Australia/Sydney"]

def task(list_no, n):
    lines = ["BEGIN:VTODO", f"UID:bench-{list_no}-{n}",
             "SUMMARY:" + " ".join(words[(n * k + list_no) % len(words)] for k in (1, 3, 7)[: 1 + n % 3]) + f" {n}"]
    # Dates through 2025 and 2026, at hours away from any change of offset.
    month, day, hour, minute = 1 + n % 12, 1 + n % 28, 8 + n % 11, (n * 7) % 60
    stamp = f"{2025 + n % 2}{month:02}{day:02}T{hour:02}{minute:02}00"
    form = n % 6
    if form == 1:
        lines.append(f"DUE:{stamp}Z")
    elif form in (2, 5):
        lines.append(f"DUE;TZID={zones[(n + list_no) % len(zones)]}:{stamp}")
    elif form == 3:
        lines.append(f"DUE:{stamp}")
    elif form == 4:
        lines.append(f"DUE;VALUE=DATE:{stamp[:8]}")
    if n % 3 == 0:
        lines.append("STATUS:COMPLETED")
    elif n % 7 == 0:
        lines.append("COMPLETED:20250101T100000Z")
    lines.append("END:VTODO")
    return "\r\n".join(lines) + "\r\n"

given = ["Zoë", "Ada", "Jürgen", "Søren", "美咲", "Олег", "Émile", "Li", "Noor", ""]
family = ["Ångström", "Lovelace", "Müller", "Kierkegaard", "田中", "Петров", "Zola", "", "Haddad", "Okafor"]

def card(n):
    g, f = given[n % len(given)], family[(n // 3) % len(family)]
    lines = ["BEGIN:VCARD", "VERSION:3.0", f"UID:bench-contact-{n}", f"FN:{(g + ' ' + f).strip() or 'Nobody'}",
             f"N:{f};{g};;;"]
    lines += [f"TEL;TYPE=CELL:+49 30 555 {n:04} {k}" for k in range(n % 4)]
    lines += [f"EMAIL:person{n}.{k}@example.org" for k in range(n % 3)]
    lines.append("END:VCARD")
    return "\r\n".join(lines) + "\r\n"

sizes = [("Einkäufe", 400), ("Work", 350), ("家事", 250)]
scenario = {
    "builtin_task_list_enabled": False,
    "task_lists": [{"name": name, "uid": f"bench-list-{i}", "tasks": [task(i, n) for n in range(1, size + 1)]}
                   for i, (name, size) in enumerate(sizes)],
    "contacts": [card(n) for n in range(1, 601)],
}
json.dump(scenario, open(sys.argv[1], "w"), ensure_ascii=False)
PY

# Seeds a private EDS and keeps its files (the EDS is torn down first, so that
# everything the services hold is written out).
cat >"$work/seed.sh" <<EOF
set -e
echo "\$PRIVATE_EDS_DIR" > "$work/seeded-dir"
"$seed" "$work/scenario.json" > "$work/seeded.json"
EOF
echo
echo "== seeding"
bash "$root/scripts/private-eds.sh" --log bash "$work/seed.sh" 2>/dev/null
seeded=$(cat "$work/seeded-dir")
mkdir "$work/snapshot"
for part in config data cache; do mv "$seeded/$part" "$work/snapshot/"; done
rm -rf "$seeded"
cat "$work/seeded.json"

# Copies the seeded files into the private EDS that runs this; nothing has
# started any service there yet.
cat >"$work/restore.sh" <<'EOF'
for part in config data cache; do
  rm -rf "${PRIVATE_EDS_DIR:?}/$part"
  cp -a "$MEASURE_WORK/snapshot/$part" "$PRIVATE_EDS_DIR/$part"
done
EOF

# --- the checks of equal work

# compare.py ANSWER_A ANSWER_B KEY COUNT: both must be the same JSON value,
# a list of COUNT rows under KEY.
cat >"$work/compare.py" <<'PY'
import json, sys
a, b = (json.load(open(p)) for p in sys.argv[1:3])
key, count = sys.argv[3], int(sys.argv[4])
rows = a.get(key) if isinstance(a, dict) else None
if rows is None or len(rows) != count:
    sys.exit(f"{sys.argv[1]}: expected {count} rows under {key!r}, got {a!r:.200}")
if a != b:
    diff = next((i for i, (x, y) in enumerate(zip(a[key], b.get(key, []))) if x != y), None)
    sys.exit(f"{sys.argv[1]} and {sys.argv[2]} differ (first at row {diff})")
PY

# --- cold start

# cold.sh PROGRAM COMMAND OUT: one timed run in a fresh EDS.
cat >"$work/cold.sh" <<'EOF'
set -e
bash "$MEASURE_WORK/restore.sh"
start=$EPOCHREALTIME
"$1" "$2" > "$3"
end=$EPOCHREALTIME
python3 -c "import sys; print(f'{(float(sys.argv[2]) - float(sys.argv[1])) * 1000:.0f}')" "$start" "$end"
EOF

echo
echo "== cold start: the first run in a fresh private EDS starts the registry and the factory ($cold_runs runs each)"
load
declare -A cold=()
for ((run = 1; run <= cold_runs; run++)); do
  for command in reminders contacts; do
    if ((run % 2 == 1)); then order=(tool bare); else order=(bare tool); fi
    for who in "${order[@]}"; do
      program=$tool
      [ "$who" = bare ] && program=$bare
      ms=$(bash "$root/scripts/private-eds.sh" bash "$work/cold.sh" "$program" "$command" "$work/cold-$who-$command-$run.json")
      cold[$who-$command]+="$ms "
    done
    count=1000
    [ "$command" = contacts ] && count=500
    python3 "$work/compare.py" "$work/cold-tool-$command-$run.json" "$work/cold-bare-$command-$run.json" \
      "$command" "$count"
  done
done
for command in reminders contacts; do
  for who in tool bare; do
    printf '%-9s %-5s cold: %s ms\n' "$command" "$who" "${cold[$who-$command]% }"
  done
done
load

# --- warm

cat >"$work/warm.sh" <<'EOF'
set -e
bash "$MEASURE_WORK/restore.sh"
w=$MEASURE_WORK
for round in 1 2 3; do
  for command in reminders contacts; do
    "$MEASURE_TOOL" "$command" > "$w/warm-tool-$command.json"
    "$MEASURE_BARE" "$command" > "$w/warm-bare-$command.json"
  done
done
python3 "$w/compare.py" "$w/warm-tool-reminders.json" "$w/warm-bare-reminders.json" reminders 1000
python3 "$w/compare.py" "$w/warm-tool-contacts.json" "$w/warm-bare-contacts.json" contacts 500
for cold in "$w"/cold-*-reminders-*.json; do python3 "$w/compare.py" "$w/warm-tool-reminders.json" "$cold" reminders 1000; done
for cold in "$w"/cold-*-contacts-*.json; do python3 "$w/compare.py" "$w/warm-tool-contacts.json" "$cold" contacts 500; done
if cmp -s "$w/warm-tool-reminders.json" "$w/warm-bare-reminders.json" &&
  cmp -s "$w/warm-tool-contacts.json" "$w/warm-bare-contacts.json"; then
  echo "answers: the same JSON value from both programs, byte for byte (1,000 reminders, 500 contacts)"
else
  echo "answers: the same JSON value from both programs (1,000 reminders, 500 contacts)"
fi
for ((round = 1; round <= $1; round++)); do
  for command in reminders contacts; do
    echo "-- round $round, $command: A = pimbridge, B = bare reader; load $(cut -d' ' -f1 /proc/loadavg)"
    "$MEASURE_PAIR" "$2" -- "$MEASURE_TOOL" "$command" -- "$MEASURE_BARE" "$command"
  done
done
EOF

echo
echo "== warm: one private EDS, factories running; $rounds rounds of $pairs alternating pairs per command"
bash "$root/scripts/private-eds.sh" bash "$work/warm.sh" "$rounds" "$pairs"
load
