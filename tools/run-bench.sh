#!/usr/bin/env bash
# Benchmarks: the micro-benchmarks, then the replication rate of the whole
# simulator (100,000 replications with a binary result file, the median of
# several runs) and its peak memory.
set -euo pipefail
build=${1:-build}
runs=${BENCH_RUNS:-5}
reps=${BENCH_REPLICATIONS:-100000}

for b in "$build"/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" --benchmark_min_time=0.2
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
echo "== attack_flow_sim -N $reps -b (median of $runs runs)"
rates=()
for i in $(seq "$runs"); do
  start=$(date +%s.%N)
  /usr/bin/time -f "%M" -o "$tmp/mem" "./$build/attack_flow_sim" -N "$reps" -b "$tmp/out.bin" >/dev/null
  end=$(date +%s.%N)
  rate=$(awk -v n="$reps" -v a="$start" -v b="$end" 'BEGIN { print n / (b - a) }')
  printf '  run %d: %.0f replications/s, peak memory %s KB\n' "$i" "$rate" "$(cat "$tmp/mem")"
  rates+=("$rate")
done
median=$(printf '%s\n' "${rates[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
printf 'median: %.0f replications/s\n' "$median"
