#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer and the address and
# undefined-behaviour sanitizers in BUILD (default build-fuzz) and fuzzes each
# for FUZZ_SECONDS seconds (default 60), one after the other, starting from
# its seed corpus in tests/fuzz/corpus/<target>/. New inputs go to
# BUILD/fuzz-work/<target>/corpus (kept for the next run), inputs that fail
# to BUILD/fuzz-artifacts/. Prints executions and findings per target and
# exits with 1 when any target failed (a crash, a sanitizer report, a failed
# check, a timeout or running out of memory).
set -u
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build-fuzz}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
seconds=${FUZZ_SECONDS:-60}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
cxx=${FUZZ_CXX:-clang++-14}

if ! cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$cxx" \
     -DTARVEX_FUZZ=ON >/dev/null; then
  echo "fuzz: ERROR: cannot configure $build with $cxx" >&2
  exit 1
fi
mapfile -t targets < "$build/fuzz-targets.txt"
echo "fuzz: building ${targets[*]} in $build"
if ! cmake --build "$build" -j "$jobs" --target "${targets[@]/#/fuzz_}" >"$build/fuzz-build.log" 2>&1; then
  tail -n 30 "$build/fuzz-build.log" >&2
  echo "fuzz: ERROR: the fuzz targets do not build (log: $build/fuzz-build.log)" >&2
  exit 1
fi

artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
summary=()
failed=0
for t in "${targets[@]}"; do
  work="$build/fuzz-work/$t"
  mkdir -p "$work/corpus"
  cp "$root/tests/fuzz/corpus/$t/"* "$work/corpus/"
  before=$(ls "$work/corpus" | wc -l)
  echo "fuzz: $t for $seconds s (log: $work/fuzz.log)"
  # The words of a target's input language, where it has a list of them.
  dict=()
  [ -f "$root/tests/fuzz/$t.dict" ] && dict=(-dict="$root/tests/fuzz/$t.dict")
  # In its own folder: a parser under test may create files.
  (cd "$work" && UBSAN_OPTIONS=print_stacktrace=1 "$build/fuzz_$t" corpus "${dict[@]}" \
     -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
     -artifact_prefix="$artifacts/$t-" >fuzz.log 2>&1)
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/fuzz.log" | tail -1)
  after=$(ls "$work/corpus" | wc -l)
  line="$t: ${runs:-?} executions, $((after - before)) new inputs (corpus $after)"
  if [ "$rc" -eq 0 ]; then
    line="$line, no findings"
  else
    failed=1
    found=$(sed -n 's/.*Test unit written to //p' "$work/fuzz.log" | tail -1)
    line="$line, FAILED (exit $rc): ${found:-see the log}"
    grep -m 3 -E "ERROR: |check failed|runtime error" "$work/fuzz.log" | sed 's/^/    /'
  fi
  summary+=("$line")
done

echo "fuzz: results"
printf '  %s\n' "${summary[@]}"
exit "$failed"
