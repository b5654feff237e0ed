#!/usr/bin/env bash
# Benchmarks: the micro-benchmarks, then the replication rate of the whole
# simulator writing a binary result file (the median of several runs) and
# its peak memory. Every run writes a new file after the previous one has
# reached the disk, so that runs do not pay for each other's write-back.
#   BENCH_REPLICATIONS (default 1000000), BENCH_RUNS (default 5)
set -euo pipefail
build=${1:-build}
runs=${BENCH_RUNS:-5}
reps=${BENCH_REPLICATIONS:-1000000}

for b in "$build"/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" --benchmark_min_time=0.2 2>/dev/null | grep -E '^(BM_|-|Benchmark)'
done

tmp=$(mktemp -d "${BENCH_DIR:-$PWD}/.bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

# One timed run of a simulator binary: prints its rate and records it.
time_run() {
  local program=$1 label=$2 i=$3
  rm -f "$tmp/out.bin"
  sync
  local start end rate
  start=$(date +%s.%N)
  /usr/bin/time -f "%M" -o "$tmp/mem" "$program" -N "$reps" -b "$tmp/out.bin" >/dev/null 2>&1
  end=$(date +%s.%N)
  rate=$(awk -v n="$reps" -v a="$start" -v b="$end" 'BEGIN { print n / (b - a) }')
  printf '  %s run %d: %.0f replications/s, peak memory %s KB\n' "$label" "$i" "$rate" "$(cat "$tmp/mem")"
  echo "$rate" >> "$tmp/rates.$label"
}

median_of() {
  sort -g "$tmp/rates.$1" | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}

# With BENCH_BASELINE naming another build's simulator (an older commit),
# the two run in turns, so that both see the same machine.
echo "== attack_flow_sim -N $reps -b FILE ($runs runs)"
for i in $(seq "$runs"); do
  if [ -n "${BENCH_BASELINE:-}" ]; then time_run "$BENCH_BASELINE" baseline "$i"; fi
  time_run "./$build/attack_flow_sim" this "$i"
done
if [ -n "${BENCH_BASELINE:-}" ]; then
  printf 'median of the baseline (%s): %.0f replications/s\n' "$BENCH_BASELINE" "$(median_of baseline)"
fi
printf 'median: %.0f replications/s\n' "$(median_of this)"
