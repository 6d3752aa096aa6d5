#!/usr/bin/env bash
# Runs every measurement that bench/README.md reports, on the build in the
# given folder (default: build/default), and prints the figures the README's
# tables hold. Run it on an otherwise idle machine.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/default}
runs=${PAIRED_RUNS:-2000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== machine"
lscpu | grep -E '^(Model name|CPU\(s\)|Thread\(s\) per core|L1d|L2|L3)' || true
grep -m1 MemTotal /proc/meminfo || true

echo
echo "== benchmarks (median of 3 repetitions)"
"$build/bench/pimbridge_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  --benchmark_out="$work/bench.json" --benchmark_out_format=json | grep -E '_median|corpus'
if command -v python3 >/dev/null; then
  python3 - "$work/bench.json" <<'PY'
import json, sys
runs = {b["run_name"]: b for b in json.load(open(sys.argv[1]))["benchmarks"] if b.get("aggregate_name") == "median"}
for family in ("BM_Emit", "BM_EmitContacts"):
    own = runs[family + "/pimbridge"]["bytes_per_second"]
    print(f"{family}: pimbridge {own / 2**20:.0f} MiB/s;", ", ".join(
        f"pimbridge / {peer} = {own / runs[f'{family}/{peer}']['bytes_per_second']:.2f}"
        for peer in ("rapidjson", "nlohmann", "nlohmann_dump_only", "memcpy")))
for family in ("BM_ExportReminders", "BM_ExportRemindersFreshPages"):
    per_row = {n: runs[f"{family}/{n}"]["per_row"] * 1e9 for n in (1000, 10000, 100000, 1000000)}
    print(f"{family}: " + ", ".join(f"{n}: {t:.0f} ns/row" for n, t in per_row.items()) +
          f"; 1,000,000 vs 10,000: {per_row[1000000] / per_row[10000] - 1:+.0%}")
PY
fi

echo
echo "== peak memory of 'pimbridge reminders' on one list of 100,000 generated reminders"
echo '{"reminders":{"status":3,"lists":[{"id":"big","title":"Big","generate":100000}]}}' > "$work/big.json"
PIMBRIDGE_WORLD="$work/big.json" /usr/bin/time -v "$build/src/pimbridge" reminders > "$work/big.out" 2> "$work/time.txt"
rss_kib=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
out_bytes=$(wc -c < "$work/big.out")
echo "maximum resident set size: $rss_kib KiB"
echo "standard output: $out_bytes bytes"
awk -v rss="$rss_kib" -v out="$out_bytes" 'BEGIN {
  limit = 3 * out / 1024 + 8 * 1024
  printf "limit 3 x output + 8 MiB: %.0f KiB; peak / output: %.2f\n", limit, rss * 1024 / out
}'

echo
echo "== start-up: 'pimbridge authorization' (A) against the minimal program (B), $runs alternating pairs"
echo '{"reminders":{"status":3},"contacts":{"status":3}}' > "$work/small.json"
PIMBRIDGE_WORLD="$work/small.json" "$build/bench/pimbridge_startup_pair" "$runs" \
  -- "$build/src/pimbridge" authorization -- "$build/bench/pimbridge_minimal_line"
