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
echo "== attack_flow_sim -N $reps -b FILE ($runs runs)"
rates=()
for i in $(seq "$runs"); do
  rm -f "$tmp/out.bin"
  sync
  start=$(date +%s.%N)
  /usr/bin/time -f "%M" -o "$tmp/mem" "./$build/attack_flow_sim" -N "$reps" -b "$tmp/out.bin" >/dev/null 2>&1
  end=$(date +%s.%N)
  rate=$(awk -v n="$reps" -v a="$start" -v b="$end" 'BEGIN { print n / (b - a) }')
  printf '  run %d: %.0f replications/s, peak memory %s KB\n' "$i" "$rate" "$(cat "$tmp/mem")"
  rates+=("$rate")
done
median=$(printf '%s\n' "${rates[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
printf 'median: %.0f replications/s\n' "$median"
